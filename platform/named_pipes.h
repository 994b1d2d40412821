// Named pipes: message channels between processes, addressed as
// "\\<host>\PIPE\<name>". On POSIX the pipe "\\.\PIPE\<name>" (or this
// machine's host name in place of ".") is the UNIX stream socket
// <pipes>/<name>, where <pipes> is $DACTYRA_PIPES, else "pipes" in the
// per-user runtime folder. A listening server is the pipe; each client
// connection is one pipe instance. Other hosts cannot be reached: opening
// one of their pipes fails as for a missing pipe. A server that takes no
// more connections reads as kPipeBusy.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/io_error.h"
#include "platform/text.h"
#include "platform/threads.h"

namespace dactyra::platform {

// One connected pipe instance, at either end. Reads and writes move whole
// records: they loop over partial transfers until every byte moved, or
// fail. One reader and one writer thread at a time.
class NamedPipe {
 public:
  // Connects to the pipe at `path` without waiting for it: kFileNotFound
  // when no server is there, kPipeBusy when it takes no more connections.
  // A connection made by a successful WaitNamedPipe of this process is
  // taken first.
  static std::unique_ptr<NamedPipe> Open(const Text& path, IoError* error = nullptr);
  virtual ~NamedPipe();
  NamedPipe(const NamedPipe&) = delete;
  NamedPipe& operator=(const NamedPipe&) = delete;

  // kDone with every byte, kTimedOut (the count moved so far), or kFailed:
  // kBrokenPipe when the other end closed.
  virtual IoResult Read(uint8_t* buffer, uint32_t size, uint32_t timeout_ms = kInfinite);
  virtual IoResult Write(const uint8_t* buffer, uint32_t size, uint32_t timeout_ms = kInfinite);

 protected:
  NamedPipe();

 private:
  friend class NamedPipeServer;
  struct Impl;
  explicit NamedPipe(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Waits until a connection to `path` can be made, at most `timeout_ms`;
// the connection made is kept for this process's next NamedPipe::Open of
// the same path. False with kSemTimeout when the time ran out, or with the
// open's error when the pipe does not exist.
bool WaitNamedPipe(const Text& path, uint32_t timeout_ms, IoError* error = nullptr);

// The server of one pipe name. Connections wait in a queue of `backlog`
// until accepted; while the queue is full, clients see kPipeBusy.
class NamedPipeServer {
 public:
  // Replaces a stale socket of a server that died; fails (kAccessDenied)
  // when a live server holds the name.
  static std::unique_ptr<NamedPipeServer> Create(const Text& path, int backlog = 8,
                                                 IoError* error = nullptr);
  virtual ~NamedPipeServer();
  NamedPipeServer(const NamedPipeServer&) = delete;
  NamedPipeServer& operator=(const NamedPipeServer&) = delete;

  // The next client, or null when none came within `timeout_ms` or
  // Shutdown was called.
  virtual std::unique_ptr<NamedPipe> Accept(uint32_t timeout_ms = kInfinite);
  // Wakes a waiting Accept and makes every later one return null; from any
  // thread.
  virtual void Shutdown();

 protected:
  NamedPipeServer();

 private:
  struct Impl;
  explicit NamedPipeServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace dactyra::platform
