#include "midi/CMIDIInDevice.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace midi {

CMIDIInException::CMIDIInException(const platform::MidiStatus& status) noexcept
    : code_(status.code), text_{} {
  const std::size_t length = std::min(status.text.size(), text_.size() - 1);
  std::memcpy(text_.data(), status.text.data(), length);
}

CMIDIInDevice::CMIDIInHeader::CMIDIInHeader(platform::MidiInputService& service,
                                            platform::MidiInHandle port,
                                            std::unique_ptr<platform::MidiInHeader> header)
    : service_(service), port_(port), header_(std::move(header)) {}

CMIDIInDevice::CMIDIInHeader::~CMIDIInHeader() {
  if (header_) service_.UnprepareHeader(port_, header_.get());
}

CMIDIInDevice::CHeaderQueue::~CHeaderQueue() {
  RemoveAll();
}

void CMIDIInDevice::CHeaderQueue::Add(std::unique_ptr<CMIDIInHeader> header) {
  std::lock_guard lock(lock_);
  headers_.push_back(std::move(header));
}

void CMIDIInDevice::CHeaderQueue::RemoveOldest() {
  std::lock_guard lock(lock_);
  if (!headers_.empty()) headers_.pop_front();
}

void CMIDIInDevice::CHeaderQueue::RemoveAll() {
  std::lock_guard lock(lock_);
  while (!headers_.empty()) headers_.pop_front();
}

bool CMIDIInDevice::CHeaderQueue::IsEmpty() const {
  std::lock_guard lock(lock_);
  return headers_.empty();
}

CMIDIInDevice::CMIDIInDevice(CMIDIReceiver& receiver)
    : CMIDIInDevice(receiver, platform::DefaultMidiInputService()) {}

CMIDIInDevice::CMIDIInDevice(CMIDIReceiver& receiver, platform::MidiInputService& service)
    : receiver_(&receiver), service_(&service) {
  try {
    event_ = std::make_unique<AutoResetEvent>();
  } catch (const std::exception&) {
    throw CMIDIInEventFailure();
  }
}

CMIDIInDevice::~CMIDIInDevice() {
  try {
    Close();
  } catch (const CMIDIInException&) {
    // Nothing can be reported from here; Stop() inside Close() has already
    // ended the worker thread and the service's deliveries.
  }
}

void CMIDIInDevice::Open(int deviceId) {
  Close();
  portId_ = {};
  platform::MidiInHandle port = 0;
  Opened(port, service_->Open(&port, deviceId, &CMIDIInDevice::MidiInProc, this));
}

void CMIDIInDevice::Open(const platform::MidiPortId& id) {
  Close();
  portId_ = id;
  platform::MidiInHandle port = 0;
  Opened(port, service_->OpenPort(&port, id, &CMIDIInDevice::MidiInProc, this));
}

void CMIDIInDevice::Opened(platform::MidiInHandle port, const platform::MidiStatus& status) {
  if (!status.ok()) throw CMIDIInException(status);
  service_->SetTaken(port, &CMIDIInDevice::MidiInTaken);
  port_ = port;
  state_ = opened;
}

bool CMIDIInDevice::SourcePresent() const {
  if (state_ == closed) return false;
  bool present = false;
  return service_->SourcePresent(port_, &present).ok() && present;
}

std::uint64_t CMIDIInDevice::Overflows() const {
  return state_ == closed ? 0 : service_->Overflows(port_);
}

std::uint64_t CMIDIInDevice::MessagesArrived() const {
  return state_ == closed ? 0 : service_->Arrived(port_);
}

void CMIDIInDevice::Close() {
  if (state_ == started) Stop();
  if (state_ != opened) return;
  const auto status = service_->Close(port_);
  if (!status.ok()) throw CMIDIInException(status);
  port_ = 0;
  state_ = closed;
}

void CMIDIInDevice::Start() {
  if (state_ != opened) return;
  state_ = started;
  try {
    worker_ = std::thread(&CMIDIInDevice::WorkerThread, this);
  } catch (const std::system_error&) {
    state_ = opened;
    throw CMIDIInThreadFailure();
  }
  receiver_->InputStarting();
  const auto status = service_->Start(port_);
  if (!status.ok()) {
    state_ = opened;
    receiver_->InputStopping();
    EndWorker();
    throw CMIDIInException(status);
  }
  receiver_->InputStarted();
}

void CMIDIInDevice::Stop() {
  if (state_ != started) return;
  state_ = opened;
  // Lets go of a receiving operation that waits for this thread, before the
  // reset below waits for that operation to return.
  receiver_->InputStopping();
  event_->Signal();
  service_->Reset(port_);
  queue_.RemoveAll();
  if (worker_.joinable()) worker_.join();
}

void CMIDIInDevice::EndWorker() {
  event_->Signal();
  if (worker_.joinable()) worker_.join();
}

void CMIDIInDevice::MidiInTaken(void* instance, std::uint32_t message) {
  static_cast<CMIDIInDevice*>(instance)->receiver_->NoteTaken(message);
}

void CMIDIInDevice::MidiInProc(platform::MidiInHandle, unsigned notice, void* instance,
                               std::uintptr_t param1, std::uintptr_t param2) {
  static_cast<CMIDIInDevice*>(instance)->Notify(notice, param1, param2);
}

void CMIDIInDevice::Notify(unsigned notice, std::uintptr_t param1, std::uintptr_t param2) {
  const auto message = static_cast<std::uint32_t>(param1);
  const auto timeStamp = static_cast<std::uint32_t>(param2);
  switch (notice) {
    case platform::kMidiInShortMessage:
      receiver_->ReceiveShortMsg(message, timeStamp);
      break;
    case platform::kMidiInInvalidShortMessage:
      receiver_->OnInvalidShortMsg(message, timeStamp);
      break;
    case platform::kMidiInLongData:
    case platform::kMidiInInvalidLongData: {
      if (state_ != started) break;
      const auto* header = reinterpret_cast<const platform::MidiInHeader*>(param1);
      const unsigned char* data = header ? header->buffer.data() : nullptr;
      const auto length = static_cast<std::uint32_t>(header ? header->bytesRecorded : 0);
      if (notice == platform::kMidiInLongData)
        receiver_->ReceiveLongMsg(data, length, timeStamp);
      else
        receiver_->OnInvalidLongMsg(data, length, timeStamp);
      // The worker gives the buffer back; never this thread.
      event_->Signal();
      break;
    }
    default:
      break;
  }
}

void CMIDIInDevice::WorkerThread() {
  while (state_ == started) {
    event_->Wait();
    if (state_ == started) queue_.RemoveOldest();
  }
}

}  // namespace midi
