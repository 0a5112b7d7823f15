// SHA-256 against the FIPS 180-2 example messages, fed whole and in pieces.
#include <gtest/gtest.h>

#include <string>

#include "station/Sha256.h"

namespace norvale {
namespace {

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(Sha256, GivesTheFipsDigests) {
    EXPECT_EQ(sha256Hex(bytesOf("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding no longer fits the block, so a second one follows.
    EXPECT_EQ(sha256Hex(bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex(bytesOf("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, AMillionAsFedInUnevenPiecesGiveTheDigestOfTheWhole) {
    const std::string million(1000000, 'a');
    Sha256 hash;
    std::size_t offset = 0;
    for (std::size_t piece = 1; offset < million.size(); piece = piece * 3 % 1000 + 1) {
        const std::size_t n = std::min(piece, million.size() - offset);
        hash.update(bytesOf(million).subspan(offset, n));
        offset += n;
    }
    std::string hex;
    for (const std::uint8_t byte : hash.finish()) {
        static constexpr char kDigits[] = "0123456789abcdef";
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    EXPECT_EQ(hex, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace norvale
