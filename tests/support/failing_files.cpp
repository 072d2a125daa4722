// Files and expressions that fail in known ways.
#include "tests/support/failing_files.h"

#include "tools/lib/expr_assembler.h"
#include "tools/lib/ogg_writer.h"
#include "tools/lib/wav_writer.h"

std::vector<uint8_t> DamagedWavFile(void)
{
    WAV_WRITER_OPTIONS opt;
    opt.bBadRiffId = true;
    const std::vector<int16_t> samples(2000, 1000);
    return WriteWavSamples(opt, samples.data(), samples.size());
}

std::vector<uint8_t> DamagedOggFile(void)
{
    OGG_WRITER_OPTIONS opt;
    opt.llFrames = 4000;
    std::vector<uint8_t> file = WriteOggVorbis(opt);
    // The identification header's page is 58 bytes; the comment and setup headers follow.
    if (file.size() > 120) file.resize(120);
    return file;
}

std::vector<uint8_t> FailingExpression(void)
{
    std::vector<uint8_t> e;
    ExprAsmText(e, "A");
    ExprAsmInt(e, 1);
    ExprAsmOp(e, '+');
    return e;
}
