// The committed blank icon: a 92-byte icon file holding one 70-byte PNG of a single
// fully transparent RGBA pixel, with every chunk checksum right.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

std::uint32_t bigEndian32(const std::string& bytes, std::size_t at) {
    return (std::uint32_t(std::uint8_t(bytes[at])) << 24) | (std::uint32_t(std::uint8_t(bytes[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(bytes[at + 2])) << 8) | std::uint32_t(std::uint8_t(bytes[at + 3]));
}

std::uint32_t littleEndian(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | std::uint8_t(bytes[at + i]);
    return value;
}

struct Chunk {
    std::string type;
    std::string data;
};

TEST(BlankToastIcon, IsOneTransparentPixelInAValidPng) {
    std::ifstream in(QUOLVA_SOURCE_DIR "/notify/blank.ico", std::ios::binary);
    ASSERT_TRUE(in.good());
    const std::string ico((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(ico.size(), 92u);

    // Header: reserved 0, type 1 (icon), one image; directory entry for 1x1, 32 bpp.
    EXPECT_EQ(littleEndian(ico, 0, 2), 0u);
    EXPECT_EQ(littleEndian(ico, 2, 2), 1u);
    EXPECT_EQ(littleEndian(ico, 4, 2), 1u);
    EXPECT_EQ(std::uint8_t(ico[6]), 1);   // width
    EXPECT_EQ(std::uint8_t(ico[7]), 1);   // height
    EXPECT_EQ(std::uint8_t(ico[8]), 0);   // colours
    EXPECT_EQ(std::uint8_t(ico[9]), 0);   // reserved
    EXPECT_EQ(littleEndian(ico, 10, 2), 1u);   // planes
    EXPECT_EQ(littleEndian(ico, 12, 2), 32u);  // bits per pixel
    EXPECT_EQ(littleEndian(ico, 14, 4), 70u);  // image size
    EXPECT_EQ(littleEndian(ico, 18, 4), 22u);  // image offset

    const std::string png = ico.substr(22);
    ASSERT_EQ(png.size(), 70u);
    ASSERT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));

    std::vector<Chunk> chunks;
    std::size_t at = 8;
    while (at + 12 <= png.size()) {
        const std::uint32_t length = bigEndian32(png, at);
        ASSERT_LE(at + 12 + length, png.size());
        const std::string typeAndData = png.substr(at + 4, 4 + length);
        const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(typeAndData.data()),
                                static_cast<uInt>(typeAndData.size()));
        EXPECT_EQ(bigEndian32(png, at + 8 + length), crc) << typeAndData.substr(0, 4);
        chunks.push_back({typeAndData.substr(0, 4), typeAndData.substr(4)});
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type, "IHDR");
    EXPECT_EQ(chunks[1].type, "IDAT");
    EXPECT_EQ(chunks[2].type, "IEND");
    EXPECT_TRUE(chunks[2].data.empty());

    const std::string& header = chunks[0].data;
    ASSERT_EQ(header.size(), 13u);
    EXPECT_EQ(bigEndian32(header, 0), 1u);  // width
    EXPECT_EQ(bigEndian32(header, 4), 1u);  // height
    EXPECT_EQ(std::uint8_t(header[8]), 8);  // bit depth
    EXPECT_EQ(std::uint8_t(header[9]), 6);  // colour type RGBA
    EXPECT_EQ(header.substr(10), std::string(3, '\0'));  // deflate, adaptive filter, no interlace

    // One scanline: filter byte 0, then R, G, B, A all zero.
    unsigned char pixels[16] = {};
    uLongf size = sizeof(pixels);
    ASSERT_EQ(uncompress(pixels, &size, reinterpret_cast<const Bytef*>(chunks[1].data.data()),
                         static_cast<uLong>(chunks[1].data.size())),
              Z_OK);
    ASSERT_EQ(size, 5u);
    for (uLongf i = 0; i < size; ++i) EXPECT_EQ(pixels[i], 0) << i;
}

}  // namespace
