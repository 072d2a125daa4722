// Helpers shared by the test suites: temporary game folders, recorders of errors and message boxes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
struct TEMP_DIR {
    std::string strNative;   // UTF-8 with '/'
    std::string strEngine;   // cp932 with '\'
    TEMP_DIR();
    ~TEMP_DIR();
    TEMP_DIR(const TEMP_DIR&) = delete;
    TEMP_DIR& operator=(const TEMP_DIR&) = delete;
    // Writes a file below the folder (relative native path, folders created); returns its native path.
    std::string Write(const std::string& strRelative, const std::vector<uint8_t>& data) const;
    std::string Write(const std::string& strRelative, const std::string& text) const;
    std::string Read(const std::string& strRelative) const;
    bool Exists(const std::string& strRelative) const;
};

// The engine form of a native path: cp932 with '\'.
std::string EnginePathFromNative(const std::string& strNative);
// cp932 of a UTF-8 literal, for comparing with engine texts.
std::string Cp932(const char* pszUtf8);

// Records every error report while alive (id, fatal byte, text) and puts the per-run error state
// back, so each test starts as a fresh run.
struct ERROR_RECORD {
    int nId;
    uint8_t bFatal;
    std::string strText;
};
struct ERROR_RECORDER {
    std::vector<ERROR_RECORD> reports;
    ERROR_RECORDER();
    ~ERROR_RECORDER();
};
// The recorder holds exactly one report, fatal and of the id, and the engine is stopping; strCase
// names the case in the failure messages. Call it through ASSERT_NO_FATAL_FAILURE where the test
// reads the report afterwards.
void ExpectOneFatalError(const ERROR_RECORDER& errors, int nId, const std::string& strCase = "");

// Records every message box while alive and answers with the queued answers (then the default).
struct MSGBOX_RECORD {
    std::string strCaption;
    std::string strText;
    std::vector<int> buttonIds;
    std::vector<std::string> buttonTexts;
    int nDefaultId;
    int bUtf8;   // the texts are UTF-8 (the Utf8 entries), else cp932
};
struct MSGBOX_RECORDER {
    std::vector<MSGBOX_RECORD> boxes;
    std::vector<int> answers;
    MSGBOX_RECORDER();
    ~MSGBOX_RECORDER();
};

// Records program starts while alive instead of starting anything; answers nResult.
struct SPAWN_RECORDER {
    std::vector<std::vector<std::string>> starts;
    int nResult = 0;
    SPAWN_RECORDER();
    ~SPAWN_RECORDER();
};

// Settings files: 32 little-endian int32 slots, of which the first nBytes are written.
std::vector<uint8_t> MakeSettingsFile(const std::vector<int32_t>& slots, size_t nBytes = 128);

// An argument vector and an environment (the entries given, in front of the test's own) ready for
// posix_spawn: argv and envp point into the strings the record keeps, so it is filled in place.
struct SPAWN_ARGS {
    std::vector<std::string> args, env;
    std::vector<char*> argv, envp;
    SPAWN_ARGS() = default;
    SPAWN_ARGS(const SPAWN_ARGS&) = delete;
    SPAWN_ARGS& operator=(const SPAWN_ARGS&) = delete;
};
void MakeSpawnArgs(SPAWN_ARGS* pOut, const std::vector<std::string>& args, const std::vector<std::string>& env);

// Runs a program (native path) with its arguments and extra environment entries ("NAME=value", in
// front of the test's own environment), without a shell. Its exit status; -1 when it still runs
// after 60 s (it is then killed), -2 when it cannot start, -3 when it ended by a signal. With a
// stderr path, the program's standard error goes into that file.
int RunProgramForTest(const std::string& strPath, const std::vector<std::string>& args,
                      const std::vector<std::string>& env, const std::string& strStderrPath = "");

// A program run with its output kept: exit status as RunProgramForTest gives it, standard output and
// standard error.
struct PROGRAM_RESULT {
    int nStatus = -2;
    std::string strOut;
    std::string strErr;
};
// As RunProgramForTest, started in the folder strCwd (empty: the test's own), its output collected.
PROGRAM_RESULT RunProgramCaptured(const std::string& strPath, const std::vector<std::string>& args,
                                  const std::vector<std::string>& env, const std::string& strCwd = "");

// A program left running: started like RunProgramCaptured, its output going to temporary files.
struct RUNNING_PROGRAM {
    int nPid = 0;
    std::string strOutFile, strErrFile;
    RUNNING_PROGRAM() = default;
    RUNNING_PROGRAM(const RUNNING_PROGRAM&) = delete;
    RUNNING_PROGRAM& operator=(const RUNNING_PROGRAM&) = delete;
    ~RUNNING_PROGRAM();   // kills it when it still runs
};
// 0 when the program started.
int StartProgramForTest(RUNNING_PROGRAM* pRun, const std::string& strPath, const std::vector<std::string>& args,
                        const std::vector<std::string>& env, const std::string& strCwd = "");
// Sends a signal to it. 0 or -1.
int SignalProgramForTest(RUNNING_PROGRAM* pRun, int nSignal);
// Waits up to nMs for its end and collects its output: the status as RunProgramForTest gives it
// (-1 when it still runs; it is then killed).
PROGRAM_RESULT WaitProgramForTest(RUNNING_PROGRAM* pRun, int nMs);
