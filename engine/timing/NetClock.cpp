#include "engine/timing/NetClock.h"

#include "engine/timing/SharedClock.h"

#include <gst/gst.h>
#include <gst/net/gstnet.h>

namespace engine {

NetClock::~NetClock() {
  if (provider_ != nullptr) gst_object_unref(provider_);
  if (clock_ != nullptr) gst_object_unref(clock_);
  if (local_ != nullptr) gst_object_unref(local_);
}

std::unique_ptr<NetClock> NetClock::Host(const std::string& address, int port) {
  std::unique_ptr<NetClock> net(new NetClock());
  GstClock* shared = ObtainSharedClock();
  net->local_ = shared;
  net->clock_ = gst_object_ref(shared);
  GstNetTimeProvider* provider =
      gst_net_time_provider_new(shared, address.empty() ? nullptr : address.c_str(), port);
  if (provider == nullptr) return nullptr;
  net->provider_ = provider;
  gint bound = 0;
  g_object_get(provider, "port", &bound, nullptr);
  net->port_ = bound;
  return net;
}

std::unique_ptr<NetClock> NetClock::Follow(const std::string& address, int port) {
  std::unique_ptr<NetClock> net(new NetClock());
  net->local_ = ObtainSharedClock();
  GstClock* client = gst_net_client_clock_new("tastivo-group", address.c_str(), port, 0);
  if (client == nullptr) return nullptr;
  net->clock_ = client;
  net->port_ = port;
  return net;
}

bool NetClock::Synced() const {
  return provider_ != nullptr || gst_clock_is_synced(GST_CLOCK(clock_));
}

std::uint64_t NetClock::Now() const {
  return gst_clock_get_time(GST_CLOCK(clock_));
}

std::int64_t NetClock::Offset() const {
  if (provider_ != nullptr) return 0;
  // Read the local clock on either side of the group's and take the middle,
  // so that the gap between the two reads does not count as offset.
  const GstClockTime before = gst_clock_get_time(GST_CLOCK(local_));
  const GstClockTime group = gst_clock_get_time(GST_CLOCK(clock_));
  const GstClockTime after = gst_clock_get_time(GST_CLOCK(local_));
  return static_cast<std::int64_t>(group) -
         static_cast<std::int64_t>(before + (after - before) / 2);
}

std::uint64_t NetClock::ToLocal(std::uint64_t groupNs) const {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(groupNs) - Offset());
}

std::uint64_t NetClock::ToGroup(std::uint64_t localNs) const {
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(localNs) + Offset());
}

}  // namespace engine
