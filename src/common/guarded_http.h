#pragma once
// The station's HTTP servers (the Alpaca server, the status page), made to stand up to slow,
// idle and hostile clients.
// cpp-httplib parses requests, routes them and writes the answers, but its own reading holds
// one of its worker threads for as long as a client takes to send (or not send) a request: a
// few dozen connections trickling a header line now and then, or a thousand idle ones, held
// every worker, and a body was read whatever its size. Here one thread gathers each request
// in full, without a worker, within a deadline from its first byte and within size limits,
// answering what does not fit (408, 413, 431, 411) and closing; idle keep-alive connections
// wait in the same poll at no cost. Only a complete request goes to a worker, which hands
// cpp-httplib the request from memory and writes the answer to the socket.

#include <httplib.h>

#include <cstddef>
#include <memory>
#include <string>
#include <thread>

namespace noctarbel {

struct HttpLimits {
  // From a request's first byte to its last (request line, headers and body).
  int RequestDeadlineMs = 2000;
  std::size_t MaxHeaderBytes = 16 * 1024;  // request line and headers
  std::size_t MaxBodyBytes = 64 * 1024;
  // An idle kept-alive connection is closed after this.
  int KeepAliveMs = 5000;
  int MaxRequestsPerConnection = 100;
  // Requests answered at once; more complete requests wait in a queue.
  int Workers = 16;
  // Open connections; beyond this the longest idle ones are closed. Kept below the
  // process's limit of open files.
  int MaxConnections = 2000;
  // The longest a client may leave an answer unread before the connection is dropped.
  int WriteStallMs = 5000;
};

class GuardedHttpServer : public httplib::Server {
 public:
  explicit GuardedHttpServer(HttpLimits limits = {});
  ~GuardedHttpServer() override;

  const HttpLimits& Limits() const;
  // Binds like bind_to_port (port 0: any free port) and lets many connections wait to be
  // accepted; the port, or -1.
  int Bind(const std::string& host, int port);
  // After Bind: accepts connections on a thread of its own, serving once this returns.
  void ListenOnThread();
  // Stops listening, finishes the requests being answered and closes every connection.
  void Shutdown();

 private:
  bool process_and_close_socket(socket_t sock) override;
  // Answers one complete request from `connection` on a worker thread.
  class Front;
  friend class Front;
  bool Answer(httplib::Stream& stream, bool closeAfter, bool& clientCloses);

  std::unique_ptr<Front> front_;
  std::thread listener_;
};

}  // namespace noctarbel
