#include "net/GroupFinder.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>

#include <QMetaObject>
#include <QPointer>

namespace net {

struct GroupFinder::Avahi {
  QPointer<GroupFinder> finder;
  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  AvahiServiceBrowser* browser = nullptr;
  AvahiEntryGroup* entry = nullptr;

  ~Avahi() {
    if (poll != nullptr) avahi_threaded_poll_stop(poll);
    if (client != nullptr) avahi_client_free(client);  // frees the browser and entry too
    if (poll != nullptr) avahi_threaded_poll_free(poll);
  }

  // Runs on Avahi's thread: hands the news to the window thread.
  static void Resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol,
                       AvahiResolverEvent event, const char* name, const char*, const char*,
                       const char*, const AvahiAddress* address, uint16_t port, AvahiStringList*,
                       AvahiLookupResultFlags, void* self) {
    auto* avahi = static_cast<Avahi*>(self);
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr) {
      char text[AVAHI_ADDRESS_STR_MAX];
      avahi_address_snprint(text, sizeof text, address);
      const FoundGroup group{QString::fromUtf8(name), QString::fromUtf8(text), port};
      QMetaObject::invokeMethod(
          avahi->finder.data(),
          [finder = avahi->finder, group] {
            if (finder) finder->Add(group);
          },
          Qt::QueuedConnection);
    }
    avahi_service_resolver_free(resolver);
  }

  // Runs on Avahi's thread.
  static void Browsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                      AvahiBrowserEvent event, const char* name, const char* type,
                      const char* domain, AvahiLookupResultFlags, void* self) {
    auto* avahi = static_cast<Avahi*>(self);
    if (event == AVAHI_BROWSER_NEW) {
      avahi_service_resolver_new(avahi->client, interface, protocol, name, type, domain,
                                 AVAHI_PROTO_INET, AvahiLookupFlags(0), &Avahi::Resolved, avahi);
    } else if (event == AVAHI_BROWSER_REMOVE) {
      const QString gone = QString::fromUtf8(name);
      QMetaObject::invokeMethod(
          avahi->finder.data(),
          [finder = avahi->finder, gone] {
            if (finder) finder->Remove(gone);
          },
          Qt::QueuedConnection);
    }
  }

  // Runs on Avahi's thread (or in avahi_client_new).
  static void ClientState(AvahiClient*, AvahiClientState, void*) {}
};

GroupFinder::GroupFinder(QObject* parent) : QObject(parent), avahi_(std::make_unique<Avahi>()) {
  avahi_->finder = this;
  avahi_->poll = avahi_threaded_poll_new();
  if (avahi_->poll == nullptr) {
    error_ = QStringLiteral("mDNS: no event loop for Avahi");
    avahi_.reset();
    return;
  }
  int failure = 0;
  avahi_->client = avahi_client_new(avahi_threaded_poll_get(avahi_->poll), AvahiClientFlags(0),
                                    &Avahi::ClientState, avahi_.get(), &failure);
  if (avahi_->client == nullptr) {
    error_ = QStringLiteral("mDNS: %1 (type the host's address)")
                 .arg(QString::fromUtf8(avahi_strerror(failure)));
    avahi_.reset();
    return;
  }
  avahi_->browser =
      avahi_service_browser_new(avahi_->client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, kServiceType,
                                nullptr, AvahiLookupFlags(0), &Avahi::Browsed, avahi_.get());
  avahi_threaded_poll_start(avahi_->poll);
}

GroupFinder::~GroupFinder() = default;

void GroupFinder::Announce(const QString& group, quint16 port) {
  if (!avahi_) return;
  avahi_threaded_poll_lock(avahi_->poll);
  if (avahi_->entry != nullptr) avahi_entry_group_reset(avahi_->entry);
  if (!group.isEmpty()) {
    if (avahi_->entry == nullptr)
      avahi_->entry = avahi_entry_group_new(avahi_->client, nullptr, nullptr);
    if (avahi_->entry != nullptr &&
        avahi_entry_group_add_service(avahi_->entry, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET,
                                      AvahiPublishFlags(0), group.toUtf8().constData(),
                                      kServiceType, nullptr, nullptr, port, nullptr) == 0)
      avahi_entry_group_commit(avahi_->entry);
  }
  avahi_threaded_poll_unlock(avahi_->poll);
}

void GroupFinder::Add(const FoundGroup& group) {
  for (FoundGroup& g : found_)
    if (g.name == group.name) {
      if (g == group) return;
      g = group;
      emit FoundChanged();
      return;
    }
  found_.push_back(group);
  emit FoundChanged();
}

void GroupFinder::Remove(const QString& name) {
  if (found_.removeIf([&](const FoundGroup& g) { return g.name == name; }) > 0) emit FoundChanged();
}

}  // namespace net
