// ICmd: the command object that builds and parses the V100 packets of one
// command code. Every class can build and parse both its request and its
// response, so the same classes serve the host (PackRequest,
// UnpackResponse) and a device (UnpackRequest, PackResponse).
//
// Parsing contract, shared by every class:
// - A parse never reads beyond the bytes it is given nor beyond the payload
//   size the header announces, whatever lengths inside the payload say.
// - A packet shorter than the 12-byte header fails the parse and leaves the
//   object untouched.
// - Otherwise the header fields are taken over first, then the payload
//   fields in order. A field that does not fit in the payload, or fails a
//   length or value check, ends the parse with false: the object is then
//   partly filled (header and the fields before the failing one hold the
//   parsed values; the failing field and the ones after it are unchanged).
//   ParsedCompletely() tells afterwards whether the last parse read every
//   field, independently of what the class reports.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "plugins/lumidigm/v100/packet.h"

namespace dactyra::v100 {

class ICmd {
 public:
  virtual ~ICmd() = default;
  ICmd(const ICmd&) = delete;
  ICmd& operator=(const ICmd&) = delete;

  // Builds the request packet into the object's request buffer and hands
  // out a view of it, valid until the object is rebuilt or destroyed.
  virtual bool PackRequest(std::span<const uint8_t>& packet) = 0;
  virtual bool UnpackRequest(std::span<const uint8_t> packet) = 0;
  // Starts with PackErrorResponse: with an error code set, the result is
  // the error response and the call returns true.
  virtual bool PackResponse(std::span<const uint8_t>& packet) = 0;
  virtual bool UnpackResponse(std::span<const uint8_t> packet) = 0;

  virtual uint32_t GetRequestSize() const { return request_size_; }
  virtual uint32_t GetResponseSize() const { return response_size_; }
  virtual void SetErrorCode(int32_t code) { error_code_ = code; }
  virtual int32_t GetErrorCode() const { return error_code_; }
  virtual void SetArgument(uint16_t value) { argument_ = value; }
  virtual void GetArgument(uint16_t& value) const { value = argument_; }
  virtual uint32_t GetCommandCode() const { return command_; }

  // Error code 0: true, nothing built. Otherwise builds a header-only
  // response with the object's own command code, the low 16 bits of the
  // error code as argument and payload size 0, hands it out and returns
  // false.
  bool PackErrorResponse(std::span<const uint8_t>& packet);

  uint16_t ReceivedSync() const { return received_sync_; }
  uint32_t ReceivedPayloadSize() const { return received_payload_size_; }
  bool ParsedCompletely() const { return parsed_completely_; }

 protected:
  // Objects come from CommandFactory; the class sets its code and defaults.
  explicit ICmd(uint32_t code) : command_(code) {}

  // Frees any old request buffer, allocates request-size bytes (zeroed, so
  // the trailer goes out as zeros) and writes the header. Returns the
  // payload area, or an empty span with `ok` false when the allocation
  // fails or the request size cannot hold the payload.
  std::span<uint8_t> PackRequestHeader(uint32_t payload_size, bool& ok);
  std::span<uint8_t> PackResponseHeader(uint32_t payload_size, bool& ok);

  // Parse the header of a received packet into the object (command,
  // argument, received sync and payload size) and give a reader over the
  // payload bytes that are both announced and present. False, with the
  // object untouched, when fewer than 12 bytes were given.
  bool UnpackRequestHeader(std::span<const uint8_t> packet, PayloadReader& payload);
  bool UnpackResponseHeader(std::span<const uint8_t> packet, PayloadReader& payload);

  void set_request_size(uint32_t size) { request_size_ = size; }
  void set_response_size(uint32_t size) { response_size_ = size; }
  uint16_t argument() const { return argument_; }
  void set_parsed_completely(bool value) { parsed_completely_ = value; }
  std::span<const uint8_t> request_packet() const { return request_; }
  std::span<const uint8_t> response_packet() const { return response_; }

 private:
  std::span<uint8_t> PackHeader(std::vector<uint8_t>& buffer, uint32_t size, uint32_t payload_size,
                                bool& ok);
  bool UnpackHeader(std::span<const uint8_t> packet, PayloadReader& payload);

  uint32_t command_;
  std::vector<uint8_t> request_;
  uint32_t request_size_ = kEmptyPacketSize;
  std::vector<uint8_t> response_;
  uint32_t response_size_ = kEmptyPacketSize;
  uint16_t argument_ = 0;
  uint16_t received_sync_ = 0;
  uint32_t received_payload_size_ = 0;
  int32_t error_code_ = 0;
  bool parsed_completely_ = false;
};

}  // namespace dactyra::v100
