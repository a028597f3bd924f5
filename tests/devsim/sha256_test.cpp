#include "sha256.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

struct DigestCase {
  std::string input;
  const char* hex;
};

class Sha256Test : public testing::TestWithParam<DigestCase> {};

// Lengths around the 55/56/64-byte padding boundaries and several blocks.
INSTANTIATE_TEST_SUITE_P(
    KnownDigests, Sha256Test,
    testing::Values(
        DigestCase{"",
                   "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b785"
                   "2b855"},
        DigestCase{"abc",
                   "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20"
                   "015ad"},
        DigestCase{"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
                   "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419d"
                   "b06c1"},
        DigestCase{std::string(55, 'a'),
                   "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f7"
                   "34318"},
        DigestCase{std::string(56, 'a'),
                   "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec"
                   "6738a"},
        DigestCase{std::string(64, 'a'),
                   "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154"
                   "668eb"},
        DigestCase{std::string(1000, 'a'),
                   "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b97"
                   "37ea3"}));

TEST_P(Sha256Test, DigestMatches) {
  EXPECT_EQ(devsim::Sha256Hex(Bytes(GetParam().input)), GetParam().hex);
}

// Feeding the data in uneven pieces gives the same digest as in one go.
TEST_P(Sha256Test, PiecewiseEqualsWhole) {
  const std::vector<std::uint8_t> data = Bytes(GetParam().input);
  devsim::Sha256 hash;
  std::span<const std::uint8_t> rest(data);
  for (std::size_t piece = 1; !rest.empty(); piece = piece * 3 + 1) {
    const std::size_t n = std::min(piece, rest.size());
    hash.Update(rest.first(n));
    rest = rest.subspan(n);
  }
  devsim::Sha256 whole;
  whole.Update(data);
  EXPECT_EQ(hash.Final(), whole.Final());
}

}  // namespace
