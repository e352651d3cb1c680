#include "devices/alpaca/alpaca_client.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>

#include "common/number_text.h"
#include "devices/alpaca/image_transfer.h"

namespace noctarbel::alpaca {

namespace {

// Ordinary answers are small; anything beyond this is not an Alpaca answer.
constexpr size_t kMaxAnswerBytes = 4u << 20;
// A frame as JSON text: 100 megapixels at up to 7 characters each, with room to spare.
constexpr size_t kMaxImageBytes = 2000u << 20;

std::atomic<std::uint32_t> gTransaction{0};

std::uint32_t NextTransaction() {
  std::uint32_t id = ++gTransaction;
  while (id == 0) id = ++gTransaction;  // 0 means "none sent"
  return id;
}

std::string ErrorText(int number, const std::string& message) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(number));
  std::string text = message.empty() ? "error " + std::string(hex) : message;
  if (number == kNotImplemented || number == kActionNotImplemented) text += " (not implemented)";
  return text;
}

std::string FirstLine(const std::string& body) {
  std::string line = body.substr(0, body.find_first_of("\r\n"));
  if (line.size() > 200) line = line.substr(0, 200) + "...";
  return std::string(TrimBlanks(line));
}

std::string Seconds(int milliseconds) { return FormatGeneral(milliseconds / 1000.0, 3) + " s"; }

httplib::Client MakeHttp(const Endpoint& server, const Timeouts& timeouts) {
  httplib::Client http(server.Host, server.Port);
  http.set_connection_timeout(std::chrono::milliseconds(timeouts.ConnectMs));
  http.set_read_timeout(std::chrono::milliseconds(timeouts.ReadMs));
  http.set_write_timeout(std::chrono::milliseconds(timeouts.ReadMs));
  http.set_keep_alive(false);
  // Compressing a frame would only cost time on both sides.
  http.set_decompress(false);
  return http;
}

// The library reports a read that timed out and a connection the server closed alike; a
// failed read that came before the read time-out could pass was the server closing.
std::string TransportError(httplib::Error error, const Timeouts& timeouts, const Endpoint& server,
                           std::chrono::steady_clock::duration took) {
  switch (error) {
    case httplib::Error::Connection:
      return "cannot connect";
    case httplib::Error::ConnectionTimeout:
      return "no connection within " + Seconds(timeouts.ConnectMs);
    case httplib::Error::Read:
      if (took < std::chrono::milliseconds(timeouts.ReadMs)) {
        return "connection closed by " + server.Text() + " before it answered";
      }
      return "no answer within " + Seconds(timeouts.ReadMs);
    case httplib::Error::Write:
      return "the request could not be sent";
    case httplib::Error::Canceled:
      return "no complete answer within " + Seconds(timeouts.ConnectMs + timeouts.ReadMs);
    default:
      return httplib::to_string(error);
  }
}

std::string PathWithQuery(const std::string& path, const Params& params) {
  return params.empty() ? path : path + "?" + FormEncode(params);
}

bool IsImageBytes(const std::string& contentType) {
  return ToLowerAscii(contentType).find(kImageBytesType) != std::string::npos;
}

}  // namespace

std::uint32_t ThisClientId() {
  static const std::uint32_t id = [] {
    std::random_device seed;
    return std::uniform_int_distribution<std::uint32_t>(1, 65535)(seed);
  }();
  return id;
}

struct DeviceClient::Reply {
  int Status = 0;
  std::string ContentType;
  std::string Body;
  std::uint32_t Transaction = 0;
  bool Streamed = false;  // the body went into the frame reader
};

DeviceClient::DeviceClient(DeviceAddress address, Timeouts timeouts)
    : address_(std::move(address)), timeouts_(timeouts) {}

DeviceClient::~DeviceClient() = default;

DeviceError DeviceClient::Failure(std::string_view member, const std::string& why) const {
  return DeviceError(address_.Identifier() + " " + std::string(member) + ": " + why);
}

DeviceClient::Reply DeviceClient::Exchange(const std::string& method, std::string_view member, const Params& params,
                                           ImageBytesReader* frame, const std::atomic<bool>* abandon) {
  const bool image = frame != nullptr;
  Reply reply;
  reply.Transaction = NextTransaction();
  Params all = params;
  all.emplace_back("ClientID", std::to_string(ThisClientId()));
  all.emplace_back("ClientTransactionID", std::to_string(reply.Transaction));

  httplib::Client http = MakeHttp(address_.Server, timeouts_);
  httplib::Request request;
  request.method = method;
  const std::string path = address_.MemberPath(member);
  if (method == "GET") {
    request.path = PathWithQuery(path, all);
  } else {
    request.path = path;
    request.body = FormEncode(all);
    request.set_header("Content-Type", "application/x-www-form-urlencoded");
  }
  request.set_header("Accept", image ? kImageBytesType : "application/json");
  const size_t limit = image ? kMaxImageBytes : kMaxAnswerBytes;
  bool tooLarge = false;
  std::string frameError;
  request.response_handler = [&](const httplib::Response& response) {
    reply.Status = response.status;
    reply.ContentType = response.get_header_value("Content-Type");
    reply.Streamed = image && reply.Status == 200 && IsImageBytes(reply.ContentType);
    if (reply.Streamed) return true;  // the frame reader judges the size from the header
    const size_t announced = response.get_header_value<uint64_t>("Content-Length");
    if (announced > limit) return !(tooLarge = true);
    reply.Body.reserve(announced);
    return true;
  };
  request.content_receiver = [&](const char* data, size_t length, uint64_t, uint64_t) {
    if (reply.Streamed) {
      try {
        frame->Add(data, length);
        return true;
      } catch (const std::exception& e) {
        frameError = e.what();
        return false;
      }
    }
    if (reply.Body.size() + length > limit) return !(tooLarge = true);
    reply.Body.append(data, length);
    return true;
  };
  // An ordinary answer must be complete within the time-outs, even from a server that
  // trickles bytes; an image may take longer as long as data keep coming.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeouts_.ConnectMs + timeouts_.ReadMs);
  request.progress = [&](uint64_t, uint64_t) {
    if (abandon && *abandon) return false;
    return image || std::chrono::steady_clock::now() < deadline;
  };

  httplib::Response response;
  httplib::Error error = httplib::Error::Success;
  const auto sent = std::chrono::steady_clock::now();
  if (!http.send(request, response, error)) {
    if (!frameError.empty()) throw Failure(member, frameError);
    if (abandon && *abandon) throw Failure(member, "the transfer was abandoned");
    if (tooLarge) throw Failure(member, "the answer is larger than " + std::to_string(limit >> 20) + " MB");
    throw Failure(member, TransportError(error, timeouts_, address_.Server, std::chrono::steady_clock::now() - sent));
  }
  reply.Status = response.status;
  if (reply.Status != 200) {
    const std::string text = FirstLine(reply.Body);
    throw Failure(member,
                  "request refused (HTTP " + std::to_string(reply.Status) + (text.empty() ? "" : ": " + text) + ")");
  }
  return reply;
}

nlohmann::json DeviceClient::ValueOf(const Reply& reply, std::string_view member, std::uint32_t transaction) {
  nlohmann::json answer = nlohmann::json::parse(reply.Body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) throw Failure(member, "the answer is not a JSON object");
  const auto number = answer.find("ErrorNumber");
  if (number != answer.end() && !number->is_number_integer()) throw Failure(member, "ErrorNumber is not a number");
  const auto echoed = answer.find("ClientTransactionID");
  if (echoed != answer.end() && echoed->is_number_unsigned() && echoed->get<std::uint64_t>() != 0 &&
      echoed->get<std::uint64_t>() != transaction) {
    throw Failure(member, "the answer belongs to another request");
  }
  const int errorNumber = number == answer.end() ? 0 : number->get<int>();
  if (errorNumber != 0) {
    const auto message = answer.find("ErrorMessage");
    const std::string text = message != answer.end() && message->is_string() ? message->get<std::string>() : "";
    throw AlpacaError(errorNumber,
                      address_.Identifier() + " " + std::string(member) + ": " + ErrorText(errorNumber, text));
  }
  const auto value = answer.find("Value");
  return value == answer.end() ? nlohmann::json() : *value;
}

nlohmann::json DeviceClient::Get(std::string_view member, const Params& query) {
  const Reply reply = Exchange("GET", member, query);
  return ValueOf(reply, member, reply.Transaction);
}

void DeviceClient::Put(std::string_view member, const Params& form) {
  const Reply reply = Exchange("PUT", member, form);
  ValueOf(reply, member, reply.Transaction);
}

bool DeviceClient::GetBool(std::string_view member) {
  const nlohmann::json value = Get(member);
  if (!value.is_boolean()) throw Failure(member, "the answer's Value is not true or false");
  return value.get<bool>();
}

int DeviceClient::GetInt(std::string_view member) {
  const nlohmann::json value = Get(member);
  if (value.is_number()) {
    const double number = value.get<double>();
    if (number == std::floor(number) && number >= std::numeric_limits<int>::min() &&
        number <= std::numeric_limits<int>::max()) {
      return static_cast<int>(number);
    }
  }
  throw Failure(member, "the answer's Value is not an integer");
}

double DeviceClient::GetDouble(std::string_view member) {
  const nlohmann::json value = Get(member);
  if (!value.is_number()) throw Failure(member, "the answer's Value is not a number");
  return value.get<double>();
}

std::string DeviceClient::GetString(std::string_view member) {
  const nlohmann::json value = Get(member);
  if (!value.is_string()) throw Failure(member, "the answer's Value is not a text");
  return value.get<std::string>();
}

std::vector<std::string> DeviceClient::GetStrings(std::string_view member) {
  const nlohmann::json value = Get(member);
  std::vector<std::string> texts;
  if (!value.is_array()) throw Failure(member, "the answer's Value is not a list");
  for (const auto& item : value) {
    if (!item.is_string()) throw Failure(member, "the answer's list holds something other than texts");
    texts.push_back(item.get<std::string>());
  }
  return texts;
}

std::vector<int> DeviceClient::GetInts(std::string_view member) {
  const nlohmann::json value = Get(member);
  std::vector<int> numbers;
  if (!value.is_array()) throw Failure(member, "the answer's Value is not a list");
  for (const auto& item : value) {
    if (!item.is_number_integer() || item.get<std::int64_t>() < std::numeric_limits<int>::min() ||
        item.get<std::int64_t>() > std::numeric_limits<int>::max()) {
      throw Failure(member, "the answer's list holds something other than integers");
    }
    numbers.push_back(item.get<int>());
  }
  return numbers;
}

ImageArrayData DeviceClient::GetImageArray(const std::atomic<bool>* abandon) {
  constexpr std::string_view kMember = "imagearray";
  ImageBytesReader frame;
  const Reply reply = Exchange("GET", kMember, {}, &frame, abandon);
  std::uint32_t echoed = 0;
  ImageArrayData image;
  try {
    image = reply.Streamed ? frame.Finish(&echoed) : DecodeImageJson(reply.Body, &echoed);
  } catch (const AlpacaError& e) {
    throw AlpacaError(e.Number(), address_.Identifier() + " imagearray: " + ErrorText(e.Number(), e.what()));
  } catch (const DeviceError& e) {
    throw Failure(kMember, e.what());
  }
  if (echoed != 0 && echoed != reply.Transaction) throw Failure(kMember, "the answer belongs to another request");
  return image;
}

nlohmann::json GetManagementValue(const Endpoint& server, std::string_view path, const Timeouts& timeouts) {
  httplib::Client http = MakeHttp(server, timeouts);
  const Params query = {{"ClientID", std::to_string(ThisClientId())},
                        {"ClientTransactionID", std::to_string(NextTransaction())}};
  const std::string where = server.Text() + std::string(path);
  std::string body;
  const auto sent = std::chrono::steady_clock::now();
  const auto deadline = sent + std::chrono::milliseconds(timeouts.ConnectMs + timeouts.ReadMs);
  auto result = http.Get(
      PathWithQuery(std::string(path), query), httplib::Headers{{"Accept", "application/json"}},
      [&](const char* data, size_t length) {
        body.append(data, length);
        return body.size() <= kMaxAnswerBytes;
      },
      [&](uint64_t, uint64_t) { return std::chrono::steady_clock::now() < deadline; });
  if (!result) {
    throw DeviceError(where + ": " +
                      TransportError(result.error(), timeouts, server, std::chrono::steady_clock::now() - sent));
  }
  if (result->status != 200) throw DeviceError(where + ": HTTP " + std::to_string(result->status));
  nlohmann::json answer = nlohmann::json::parse(body, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) throw DeviceError(where + ": the answer is not a JSON object");
  const auto value = answer.find("Value");
  if (value == answer.end()) throw DeviceError(where + ": the answer has no Value");
  return *value;
}

}  // namespace noctarbel::alpaca
