// An in-memory transport for tests: answers each exchange with the next
// prepared packet (or a failure) and keeps every request it was sent.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "plugins/lumidigm/v100/transport.h"

namespace dactyra::v100::testing {

class ScriptedTransport : public ITransport {
 public:
  struct Answer {
    std::optional<std::vector<uint8_t>> packet;  // none: the exchange fails
    std::optional<uint32_t> reported_length;     // overrides the length reported
  };

  void Answer(std::vector<uint8_t> packet) { answers_.push_back({std::move(packet), {}}); }
  void Fail() { answers_.push_back({std::nullopt, {}}); }
  void AnswerReporting(std::vector<uint8_t> packet, uint32_t length) {
    answers_.push_back({std::move(packet), length});
  }

  const std::vector<std::vector<uint8_t>>& requests() const { return requests_; }
  size_t pending() const { return answers_.size(); }

  int32_t Open(V100TransportInfo& info) override {
    info.transport = this;
    return 0;
  }
  int32_t Close(V100TransportInfo& info) override {
    info.transport = nullptr;
    return 0;
  }
  bool Exchange(V100TransportInfo&, const uint8_t* request, uint32_t request_size, uint8_t* receive,
                uint32_t& receive_length) override {
    requests_.emplace_back(request, request + request_size);
    if (answers_.empty()) return false;
    struct Answer answer = std::move(answers_.front());
    answers_.pop_front();
    if (!answer.packet) return false;
    const uint32_t n =
        std::min<uint32_t>(static_cast<uint32_t>(answer.packet->size()), receive_length);
    std::copy_n(answer.packet->begin(), n, receive);
    receive_length = answer.reported_length.value_or(n);
    return true;
  }
  bool GetLockName(std::string& name) const override {
    name = "LUMIscripted";
    return true;
  }

 private:
  std::deque<struct Answer> answers_;
  std::vector<std::vector<uint8_t>> requests_;
};

}  // namespace dactyra::v100::testing
