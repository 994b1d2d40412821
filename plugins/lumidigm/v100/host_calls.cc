#include "plugins/lumidigm/v100/host_calls.h"

#include <memory>
#include <type_traits>

#include "plugins/lumidigm/v100/catalogue.h"
#include "plugins/lumidigm/v100/execute.h"

namespace dactyra::v100 {
namespace {

// The shared pattern: create the request, fill it, exchange it, and turn the
// answer into a status. `read` copies the outputs of a usable response of
// class Response and returns the status; Response void means the call has
// no outputs. `prepare` readies the response before it parses (Execute).
template <typename Request, typename Response, typename Fill, typename Read>
int32_t HostCall(V100TransportInfo& info, Fill fill, Read read, PrepareResponse prepare = nullptr,
                 void* context = nullptr) {
  std::unique_ptr<ICmd> created = CommandFactory(Request::kCode);
  auto* request = dynamic_cast<Request*>(created.get());
  if (request == nullptr) return kNoResponse;
  fill(*request);
  std::unique_ptr<ICmd> response = Execute(info, *request, prepare, context);
  created.reset();
  if (response == nullptr) return kNoResponse;
  if (auto* error = dynamic_cast<Atomic_Error*>(response.get())) {
    uint16_t code = 0;
    error->GetArgument(code);
    return code != 0 ? static_cast<int32_t>(static_cast<int16_t>(code)) : kNoResponse;
  }
  if constexpr (std::is_void_v<Response>) {
    return 0;
  } else {
    auto* typed = dynamic_cast<Response*>(response.get());
    if (typed == nullptr || !typed->ParsedCompletely()) return kNoResponse;
    return read(*typed);
  }
}

constexpr auto kNothingToFill = [](auto&) {};
constexpr auto kNothingToRead = [](auto&) { return 0; };

}  // namespace

int32_t ArmTrigger(V100TransportInfo& info, uint16_t trigger_type) {
  return HostCall<Atomic_Arm_Trigger, void>(
      info, [&](Atomic_Arm_Trigger& r) { r.SetTriggerType(trigger_type); }, kNothingToRead);
}

int32_t GetAcqStatus(V100TransportInfo& info, uint32_t& status) {
  return HostCall<Atomic_Get_Acq_Status, Atomic_Get_Acq_Status>(
      info, kNothingToFill, [&](const Atomic_Get_Acq_Status& r) {
        status = r.Status();
        return 0;
      });
}

int32_t GetCompositeImage(V100TransportInfo& info, int32_t& leading_value, uint32_t& image_length,
                          std::span<uint8_t> destination) {
  // The image is parsed straight into the caller's buffer, which it must
  // fill exactly; a response of another class (an error) ignores this.
  const PrepareResponse into_destination = [](ICmd& response, void* context) {
    if (auto* image = dynamic_cast<Atomic_Get_Composite_Image*>(&response)) {
      image->SetImageDestination(*static_cast<std::span<uint8_t>*>(context));
    }
  };
  return HostCall<Atomic_Get_Composite_Image, Atomic_Get_Composite_Image>(
      info, kNothingToFill,
      [&](const Atomic_Get_Composite_Image& r) {
        leading_value = r.LeadingValue();
        image_length = static_cast<uint32_t>(r.Image().size());
        return 0;
      },
      into_destination, &destination);
}

int32_t GetConfig(V100TransportInfo& info, V100Config& config) {
  return HostCall<Atomic_Get_Config, Atomic_Get_Config>(info, kNothingToFill,
                                                        [&](const Atomic_Get_Config& r) {
                                                          config = r.Config();
                                                          return 0;
                                                        });
}

int32_t GetCmd(V100TransportInfo& info, V100CmdSettings& settings) {
  return HostCall<Atomic_Get_Cmd, Atomic_Get_Cmd>(info, kNothingToFill,
                                                  [&](const Atomic_Get_Cmd& r) {
                                                    settings = r.Settings();
                                                    return 0;
                                                  });
}

int32_t SetCmd(V100TransportInfo& info, const V100CmdSettings& settings) {
  return HostCall<Atomic_Set_Cmd, void>(
      info, [&](Atomic_Set_Cmd& r) { r.SetSettings(settings); }, kNothingToRead);
}

}  // namespace dactyra::v100
