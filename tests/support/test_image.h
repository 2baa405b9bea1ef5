// The firmware image the program embeds, as bytes for tests. Link tavi_test_image.
#pragma once
#include <cstddef>
#include <cstdint>

extern const uint8_t kTestImage[];
extern const size_t kTestImageSize;
