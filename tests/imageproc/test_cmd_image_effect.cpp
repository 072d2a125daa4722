// The image-effect command and its dispatcher.
#include <gtest/gtest.h>

#include "imageproc/image_effects.h"

TEST(ImageEffectCodes, FillCodesShareOneFilter) {
    EXPECT_EQ(EFFECT_FILL + 1, EFFECT_FILL_2);
    EXPECT_EQ(EFFECT_FILL + 2, EFFECT_FILL_3);
}
