// The frame cutter: headers of every length form, bodies fed in pieces,
// several frames in one feed, the cap, malformed lengths.
#include <gtest/gtest.h>

#include <vector>

#include "Nelo.MQTT.FrameCutter.h"

namespace {

struct TFrame {
  uint8_t First;
  uint32_t Length;
  std::size_t BodySize;
};

// Feeds AStream in pieces of APiece bytes; returns the frames cut.
std::vector<TFrame> Cut(const std::vector<uint8_t>& AStream, std::size_t APiece, uint32_t ACap = 1u << 28) {
  TNeloMQTTFrameCutter cutter(ACap);
  std::vector<TFrame> frames;
  std::size_t pos = 0;
  while (pos < AStream.size()) {
    const std::size_t size = std::min(APiece, AStream.size() - pos);
    std::size_t used = 0;
    while (used < size) {
      used += cutter.Feed(AStream.data() + pos + used, size - used);
      if (cutter.Complete()) {
        const uint8_t first = cutter.FirstByte();
        const uint32_t length = cutter.RemainingLength();
        frames.push_back({first, length, cutter.TakeBody().size()});
      }
    }
    pos += size;
  }
  return frames;
}

std::vector<uint8_t> Frame(uint8_t AFirst, const std::vector<uint8_t>& ALengthField, std::size_t ABody) {
  std::vector<uint8_t> out;
  out.reserve(1 + ALengthField.size() + ABody);
  out.push_back(AFirst);
  for (uint8_t b : ALengthField) out.push_back(b);
  out.resize(out.size() + ABody, 0xAB);
  return out;
}

TEST(FrameCutterTest, LengthFormsAndPieces) {
  struct TCase {
    std::vector<uint8_t> LengthField;
    uint32_t Length;
  };
  const TCase cases[] = {
      {{0x00}, 0},
      {{0x7F}, 127},
      {{0x80, 0x01}, 128},
      {{0xFF, 0x7F}, 16383},
      {{0x80, 0x80, 0x01}, 16384},
      {{0x80, 0x80, 0x80, 0x01}, 2097152},
  };
  for (const TCase& c : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 22}) {
      SCOPED_TRACE(std::to_string(c.Length) + " in pieces of " + std::to_string(piece));
      std::vector<uint8_t> stream = Frame(0x30, c.LengthField, c.Length);
      stream.push_back(0xD0);  // a PINGRESP behind it
      stream.push_back(0x00);
      const std::vector<TFrame> frames = Cut(stream, piece);
      ASSERT_EQ(frames.size(), 2u);
      EXPECT_EQ(frames[0].First, 0x30);
      EXPECT_EQ(frames[0].Length, c.Length);
      EXPECT_EQ(frames[0].BodySize, c.Length);
      EXPECT_EQ(frames[1].First, 0xD0);
      EXPECT_EQ(frames[1].BodySize, 0u);
    }
  }
}

TEST(FrameCutterTest, CapAndMalformedLengthsAreRefusedBeforeTheBody) {
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Header;
    uint32_t Cap;
    bool Refused;
  };
  const TCase cases[] = {
      {"at the cap", {0x90, 0xE8, 0x07}, 1000, false},
      {"one above the cap", {0x90, 0xE9, 0x07}, 1000, true},
      {"256 MiB", {0x90, 0xFF, 0xFF, 0xFF, 0x7F}, 64u << 20, true},
      {"fifth length byte", {0x90, 0x80, 0x80, 0x80, 0x80, 0x01}, 1u << 28, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TNeloMQTTFrameCutter cutter(c.Cap);
    if (c.Refused) {
      EXPECT_THROW(cutter.Feed(c.Header.data(), c.Header.size()), ENeloMQTTBrokenFrame);
    } else {
      EXPECT_EQ(cutter.Feed(c.Header.data(), c.Header.size()), c.Header.size());
      EXPECT_TRUE(cutter.LengthKnown());
      EXPECT_EQ(cutter.BodyMissing(), 1000u);
    }
  }
}

}  // namespace
