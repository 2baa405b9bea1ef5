// The firmware image the program embeds (the build's TAVI_FIRMWARE_IMAGE, by default the
// stand-in resources/tavi-2.1.fw), as bytes for tests. Link tavi_test_image.
#pragma once
#include <cstddef>
#include <cstdint>

extern const uint8_t kTestImage[];
extern const size_t kTestImageSize;
