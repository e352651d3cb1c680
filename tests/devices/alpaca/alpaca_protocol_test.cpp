// Identifiers, host lists and form encoding, and the two image forms, each checked against
// bytes and texts written by hand from the API reference (not only against our encoder).

#include <gtest/gtest.h>

#include <cstring>

#include "devices/alpaca/alpaca_protocol.h"
#include "devices/alpaca/image_transfer.h"

namespace noctarbel::testing {
namespace {

using namespace alpaca;

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const DeviceError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(AlpacaIdentifiers, ParseInAnyCaseAndFormatInTheApisCase) {
  const DeviceAddress wheel = ParseIdentifier(" ALPACA://observatory.local:11111/FilterWheel/2 ");
  EXPECT_EQ(wheel.Server.Host, "observatory.local");
  EXPECT_EQ(wheel.Server.Port, 11111);
  EXPECT_EQ(wheel.Type, DeviceType::FilterWheel);
  EXPECT_EQ(wheel.Number, 2);
  EXPECT_EQ(wheel.Identifier(), "alpaca://observatory.local:11111/filterwheel/2");
  EXPECT_EQ(wheel.MemberPath("position"), "/api/v1/filterwheel/2/position");
  const DeviceAddress v6 = ParseIdentifier("alpaca://[::1]:4567/camera/0");
  EXPECT_EQ(v6.Server.Host, "::1");
  EXPECT_EQ(v6.Identifier(), "alpaca://[::1]:4567/camera/0");

  EXPECT_NE(ErrorOf([] { ParseIdentifier("alpaca://host/telescope/0"); }).find("HOST:PORT"), std::string::npos);
  EXPECT_NE(ErrorOf([] { ParseIdentifier("alpaca://host:0/telescope/0"); }).find("HOST:PORT"), std::string::npos);
  EXPECT_NE(ErrorOf([] { ParseIdentifier("alpaca://host:70000/telescope/0"); }).find("HOST:PORT"), std::string::npos);
  EXPECT_NE(ErrorOf([] { ParseIdentifier("alpaca://host:1/dome/0"); }).find("unknown device type \"dome\""),
            std::string::npos);
  EXPECT_NE(ErrorOf([] { ParseIdentifier("alpaca://host:1/camera/-1"); }).find("device number"), std::string::npos);
  EXPECT_NE(ErrorOf([] { ParseIdentifier("alpaca://host:1/camera"); }).find("no device number"), std::string::npos);
  EXPECT_NE(ErrorOf([] { ParseIdentifier("indi://host:1/camera/0"); }).find("alpaca://"), std::string::npos);
}

TEST(AlpacaIdentifiers, HostListsKeepGoodEntriesOnce) {
  const auto hosts = ParseHostList(" 10.0.0.5:11111, obs:32323;bad, [fe80::1]:80 10.0.0.5:11111,:5, x:0");
  ASSERT_EQ(hosts.size(), 3u);
  EXPECT_EQ(hosts[0].Text(), "10.0.0.5:11111");
  EXPECT_EQ(hosts[1].Text(), "obs:32323");
  EXPECT_EQ(hosts[2].Text(), "[fe80::1]:80");
  EXPECT_TRUE(ParseHostList("").empty());
}

TEST(AlpacaForms, EncodingRoundTripsAndKeysLoseTheirCase) {
  const std::string body = FormEncode({{"Action", "a b&c=d/\xC3\xA9%"}, {"ClientTransactionID", "7"}});
  EXPECT_EQ(body, "Action=a%20b%26c%3Dd%2F%C3%A9%25&ClientTransactionID=7");
  const auto params = FormDecode(body);
  ASSERT_TRUE(params);
  EXPECT_EQ(params->at("action"), "a b&c=d/\xC3\xA9%");
  EXPECT_EQ(params->at("clienttransactionid"), "7");
  EXPECT_EQ(FormDecode("Connected=true+x&connected=false")->at("connected"), "true x");
  EXPECT_FALSE(FormDecode("Connected=%zz"));
  EXPECT_FALSE(FormDecode("Connected=%4"));
  EXPECT_EQ(NumberText(0.1), "0.1");
  EXPECT_EQ(ParseBool("TRUE"), true);
  EXPECT_EQ(ParseBool("0"), std::nullopt);
}

// ---- ImageBytes

void Put32(std::string& bytes, std::int32_t value) {
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
}

// The reference's layout, built field by field: 11 little-endian 32-bit integers, then the
// elements of Array[NumX, NumY] with y changing fastest.
std::string HandWrittenImageBytes(std::int32_t transmission, int width, int height, int elementSize,
                                  const std::function<std::int64_t(int, int)>& value) {
  std::string bytes;
  for (std::int32_t field : {1, 0, 77, 5, 44, 2, transmission, 2, width, height, 0}) Put32(bytes, field);
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height; ++y) {
      const auto v = static_cast<std::uint64_t>(value(x, y));
      for (int i = 0; i < elementSize; ++i) bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
  }
  return bytes;
}

TEST(ImageBytes, DecodesTheReferenceLayoutColumnByColumn) {
  auto value = [](int x, int y) { return 1000 * x + y; };
  std::uint32_t transaction = 0;
  const ImageArrayData image = DecodeImageBytes(HandWrittenImageBytes(kElementUInt16, 5, 3, 2, value), &transaction);
  EXPECT_EQ(transaction, 77u);
  ASSERT_EQ(image.Width, 5);
  ASSERT_EQ(image.Height, 3);
  EXPECT_TRUE(image.Is16Bit());
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(image.At(x, y), value(x, y)) << x << "," << y;
  }
  // Our encoder writes exactly these bytes (UInt16 because every value fits).
  EXPECT_EQ(EncodeImageBytes(image, 77, 5), HandWrittenImageBytes(kElementUInt16, 5, 3, 2, value));
}

// Frames are encoded and decoded in bands of columns as the bytes go: wider than one band,
// ending in a partial one, arriving in pieces of any size.
TEST(ImageBytes, BandsOfColumnsAndPiecesOfAnySizeGiveTheSameImage) {
  auto value = [](int x, int y) { return (x * 131 + y * 7) % 65536; };
  const std::string bytes = HandWrittenImageBytes(kElementUInt16, 150, 7, 2, value);
  for (size_t piece : {size_t{1}, size_t{3}, size_t{4096}}) {
    ImageBytesReader reader;
    for (size_t at = 0; at < bytes.size(); at += piece) {
      reader.Add(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    const ImageArrayData image = reader.Finish();
    int differences = 0;
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 150; ++x) differences += image.At(x, y) != value(x, y);
    }
    EXPECT_EQ(differences, 0) << "pieces of " << piece;
    EXPECT_EQ(EncodeImageBytes(image, 77, 5), bytes);
    EXPECT_EQ(DecodeImageJson(EncodeImageJson(image, 1, 2)).Pixels16, image.Pixels16);
  }
}

TEST(ImageBytes, EveryIntegerTransmissionTypeKeepsItsValues) {
  auto signedValue = [](int x, int y) { return (x - 2) * 300 + y; };  // negatives too
  const ImageArrayData int16 = DecodeImageBytes(HandWrittenImageBytes(kElementInt16, 4, 2, 2, signedValue));
  EXPECT_FALSE(int16.Is16Bit());
  EXPECT_EQ(int16.At(0, 1), -599);
  const ImageArrayData int32 =
      DecodeImageBytes(HandWrittenImageBytes(kElementInt32, 4, 2, 4, [](int x, int y) { return 70000 * x - y; }));
  EXPECT_EQ(int32.At(3, 1), 209999);
  EXPECT_EQ(int32.At(0, 1), -1);
  const ImageArrayData bytes =
      DecodeImageBytes(HandWrittenImageBytes(kElementByte, 3, 3, 1, [](int x, int y) { return 250 + x - y; }));
  EXPECT_TRUE(bytes.Is16Bit());
  EXPECT_EQ(bytes.At(2, 0), 252);
  const ImageArrayData uint32 = DecodeImageBytes(
      HandWrittenImageBytes(kElementUInt32, 2, 2, 4, [](int x, int y) { return 100000 + 10 * x + y; }));
  EXPECT_EQ(uint32.At(1, 1), 100011);
  // Beyond what the station holds.
  EXPECT_THROW(DecodeImageBytes(HandWrittenImageBytes(kElementUInt32, 1, 1, 4, [](int, int) { return 0xFFFFFFFFll; })),
               DeviceError);
  EXPECT_NE(ErrorOf([] {
              DecodeImageBytes(HandWrittenImageBytes(kElementDouble, 1, 1, 8, [](int, int) { return 0; }));
            }).find("type 3 is not supported"),
            std::string::npos);
  // Values beyond 16 bits are sent as Int32 and come back as they were.
  ImageArrayData wide;
  wide.Width = 3;
  wide.Height = 2;
  wide.Pixels = {0, 65536, -5, 7, 8, 9};
  const std::string encoded = EncodeImageBytes(wide, 1, 2);
  EXPECT_EQ(ReadImageBytesHeader(encoded).TransmissionElementType, kElementInt32);
  EXPECT_EQ(DecodeImageBytes(encoded).Pixels, wide.Pixels);
}

TEST(ImageBytes, ErrorsAndMalformedAnswersAreRefusedWithAReason) {
  try {
    DecodeImageBytes(EncodeImageBytesError(0x40B, "No image is ready", 3, 4));
    ADD_FAILURE() << "no error";
  } catch (const AlpacaError& e) {
    EXPECT_EQ(e.Number(), 0x40B);
    EXPECT_STREQ(e.what(), "No image is ready");
  }
  const std::string good = HandWrittenImageBytes(kElementUInt16, 4, 4, 2, [](int x, int y) { return x + y; });
  auto with = [&](size_t offset, std::int32_t value) {
    std::string bytes = good;
    for (int i = 0; i < 4; ++i)
      bytes[offset + i] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    return bytes;
  };
  EXPECT_NE(ErrorOf([&] { DecodeImageBytes(good.substr(0, 40)); }).find("shorter than its header"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { DecodeImageBytes(good.substr(0, good.size() - 1)); }).find("data bytes"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { DecodeImageBytes(with(0, 2)); }).find("metadata version 2"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { DecodeImageBytes(with(16, 9000)); }).find("data start"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { DecodeImageBytes(with(28, 3)); }).find("rank 3"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { DecodeImageBytes(with(32, -4)); }).find("image size"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { DecodeImageBytes(with(36, 0x7FFFFFFF)); }).find("data bytes"), std::string::npos);
}

// ---- the JSON array

TEST(ImageJson, ValueHoldsColumnsAndDecodesWithoutADocument) {
  const ImageArrayData image =
      DecodeImageJson(R"({"Type":2,"Rank":2,"Value":[[1,2,3],[4,5,6]],"ClientTransactionID":9,"ErrorNumber":0})");
  ASSERT_EQ(image.Width, 2);
  ASSERT_EQ(image.Height, 3);
  EXPECT_EQ(image.At(1, 0), 4);
  EXPECT_EQ(image.At(0, 2), 3);
  ImageArrayData negative;
  negative.Width = 3;
  negative.Height = 2;
  negative.Pixels = {-1, 2, 3, 400000, 5, 6};
  const std::string text = EncodeImageJson(negative, 11, 12);
  EXPECT_EQ(text.substr(0, 20), R"({"Type":2,"Rank":2,")");
  EXPECT_NE(text.find(R"("Value":[[-1,400000],[2,5],[3,6]])"), std::string::npos);
  std::uint32_t transaction = 0;
  EXPECT_EQ(DecodeImageJson(text, &transaction).Pixels, negative.Pixels);
  EXPECT_EQ(transaction, 11u);
}

TEST(ImageJson, MalformedArraysAndDeviceErrorsAreRefused) {
  try {
    DecodeImageJson(R"({"ErrorNumber":1035,"ErrorMessage":"No image"})");
    ADD_FAILURE() << "no error";
  } catch (const AlpacaError& e) {
    EXPECT_EQ(e.Number(), 1035);
  }
  EXPECT_NE(ErrorOf([] { DecodeImageJson("<html>"); }).find("malformed JSON"), std::string::npos);
  EXPECT_NE(ErrorOf([] { DecodeImageJson(R"({"Value":[[1,2],[3]]})"); }).find("differ in length"), std::string::npos);
  EXPECT_NE(ErrorOf([] { DecodeImageJson(R"({"Value":[[[1,2,3]]]})"); }).find("rank 3"), std::string::npos);
  EXPECT_NE(ErrorOf([] { DecodeImageJson(R"({"Value":[["a"]]})"); }).find("other than numbers"), std::string::npos);
  EXPECT_NE(ErrorOf([] { DecodeImageJson(R"({"Value":[1,2]})"); }).find("not an array of columns"), std::string::npos);
  EXPECT_NE(ErrorOf([] { DecodeImageJson(R"({"Value":[[1.5]]})"); }).find("not integers"), std::string::npos);
  EXPECT_NE(ErrorOf([] { DecodeImageJson(R"({"Type":2})"); }).find("holds no image"), std::string::npos);
  EXPECT_NE(ErrorOf([] { DecodeImageJson(R"([1])"); }).find("not a JSON object"), std::string::npos);
}

}  // namespace
}  // namespace noctarbel::testing
