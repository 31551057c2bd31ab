#include "StallingSource.h"

#include <gst/base/gstpushsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace stalling_source {
namespace {

std::atomic<int> running{0};

struct StallSrc {
  GstPushSrc parent;
  gchar* uri;
  GMutex lock;
  GCond wake;
  gboolean flushing;
};

struct StallSrcClass {
  GstPushSrcClass parent_class;
};

GType stall_src_get_type();
void stall_src_uri_handler_init(gpointer iface, gpointer);

G_DEFINE_TYPE_WITH_CODE(StallSrc, stall_src, GST_TYPE_PUSH_SRC,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_URI_HANDLER, stall_src_uri_handler_init))

StallSrc* Self(gpointer p) {
  return reinterpret_cast<StallSrc*>(p);
}

gboolean Start(GstBaseSrc*) {
  ++running;
  return TRUE;
}

gboolean Stop(GstBaseSrc*) {
  --running;
  return TRUE;
}

// Waits until the source is told to stop: the streaming thread hangs as it
// would in a read that never returns.
GstFlowReturn Create(GstPushSrc* src, GstBuffer**) {
  StallSrc* self = Self(src);
  g_mutex_lock(&self->lock);
  while (!self->flushing) g_cond_wait(&self->wake, &self->lock);
  g_mutex_unlock(&self->lock);
  return GST_FLOW_FLUSHING;
}

gboolean Unlock(GstBaseSrc* src) {
  StallSrc* self = Self(src);
  g_mutex_lock(&self->lock);
  self->flushing = TRUE;
  g_cond_broadcast(&self->wake);
  g_mutex_unlock(&self->lock);
  return TRUE;
}

gboolean UnlockStop(GstBaseSrc* src) {
  StallSrc* self = Self(src);
  g_mutex_lock(&self->lock);
  self->flushing = FALSE;
  g_mutex_unlock(&self->lock);
  return TRUE;
}

void Finalize(GObject* object) {
  StallSrc* self = Self(object);
  g_free(self->uri);
  g_mutex_clear(&self->lock);
  g_cond_clear(&self->wake);
  G_OBJECT_CLASS(stall_src_parent_class)->finalize(object);
}

void stall_src_class_init(StallSrcClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = Finalize;
  static GstStaticPadTemplate src =
      GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
  gst_element_class_add_static_pad_template(GST_ELEMENT_CLASS(klass), &src);
  gst_element_class_set_static_metadata(GST_ELEMENT_CLASS(klass), "Stalling file source",
                                        "Source/File", "Opens a file and never reads it",
                                        "Tastivo tests");
  auto* base = GST_BASE_SRC_CLASS(klass);
  base->start = Start;
  base->stop = Stop;
  base->unlock = Unlock;
  base->unlock_stop = UnlockStop;
  GST_PUSH_SRC_CLASS(klass)->create = Create;
}

void stall_src_init(StallSrc* self) {
  self->uri = nullptr;
  self->flushing = FALSE;
  g_mutex_init(&self->lock);
  g_cond_init(&self->wake);
}

GstURIType UriType(GType) {
  return GST_URI_SRC;
}

const gchar* const* Protocols(GType) {
  static const gchar* protocols[] = {"file", nullptr};
  return protocols;
}

gchar* GetUri(GstURIHandler* handler) {
  return g_strdup(Self(handler)->uri);
}

// Only the files meant to stall; the stock source takes every other one.
gboolean SetUri(GstURIHandler* handler, const gchar* uri, GError** error) {
  if (uri == nullptr || std::strstr(uri, "stall") == nullptr) {
    g_set_error(error, GST_URI_ERROR, GST_URI_ERROR_BAD_URI, "not a stalling file");
    return FALSE;
  }
  StallSrc* self = Self(handler);
  g_free(self->uri);
  self->uri = g_strdup(uri);
  return TRUE;
}

void stall_src_uri_handler_init(gpointer iface, gpointer) {
  auto* i = static_cast<GstURIHandlerInterface*>(iface);
  i->get_type = UriType;
  i->get_protocols = Protocols;
  i->get_uri = GetUri;
  i->set_uri = SetUri;
}

}  // namespace

void Register() {
  static std::once_flag once;
  std::call_once(once, [] {
    gst_init(nullptr, nullptr);
    gst_element_register(nullptr, "tastivostallsrc", GST_RANK_PRIMARY + 100, stall_src_get_type());
  });
}

int Running() {
  return running.load();
}

}  // namespace stalling_source
