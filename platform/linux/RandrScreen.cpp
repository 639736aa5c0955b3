#include "platform/linux/RandrScreen.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "platform/linux/X11Session.hpp"

namespace {
std::optional<std::uint32_t> crtcOf(Display* display, Window root, std::uint32_t outputID) {
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
  if (!resources) return std::nullopt;
  std::optional<std::uint32_t> crtc;
  for (int i = 0; i < resources->noutput; ++i) {
    if (resources->outputs[i] != outputID) continue;
    if (XRROutputInfo* info = XRRGetOutputInfo(display, resources, resources->outputs[i])) {
      if (info->crtc != 0) crtc = static_cast<std::uint32_t>(info->crtc);
      XRRFreeOutputInfo(info);
    }
  }
  XRRFreeScreenResources(resources);
  return crtc;
}

std::vector<std::uint8_t> edidProperty(Display* display, RROutput output) {
  const Atom edidAtom = XInternAtom(display, "EDID", True);
  if (edidAtom == None) return {};
  Atom type = None;
  int format = 0;
  unsigned long count = 0, remaining = 0;
  unsigned char* data = nullptr;
  std::vector<std::uint8_t> edid;
  if (XRRGetOutputProperty(display, output, edidAtom, 0, 256, False, False, AnyPropertyType, &type, &format, &count,
                           &remaining, &data) == Success &&
      data) {
    if (format == 8 && type == XA_INTEGER) edid.assign(data, data + count);
    XFree(data);
  }
  return edid;
}
}  // namespace

RandrScreen::RandrScreen(X11Session& session) : session_(session) {
  int errorBase = 0, major = 0, minor = 0;
  Display* display = session_.display();
  available_ = XRRQueryExtension(display, &eventBase_, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
               (major > 1 || minor >= 2);
  if (!available_) return;
  XRRSelectInput(display, session_.rootWindow(),
                 RRScreenChangeNotifyMask | RROutputChangeNotifyMask | RRCrtcChangeNotifyMask);
  events_ = session_.onEvent([this](XEvent& event) {
    if (event.type == eventBase_ + RRScreenChangeNotify) XRRUpdateConfiguration(&event);
    if (event.type == eventBase_ + RRScreenChangeNotify || event.type == eventBase_ + RRNotify) screenChanged.emit();
  });
}

RandrScreen::~RandrScreen() = default;

std::vector<RandrOutput> RandrScreen::outputs() const {
  std::vector<RandrOutput> list;
  if (!available_ || !session_.isAlive()) return list;
  Display* display = session_.display();
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, session_.rootWindow());
  if (!resources) return list;
  for (int i = 0; i < resources->noutput; ++i) {
    XRROutputInfo* info = XRRGetOutputInfo(display, resources, resources->outputs[i]);
    if (!info) continue;
    RandrOutput output;
    output.id = static_cast<std::uint32_t>(resources->outputs[i]);
    output.name.assign(info->name, static_cast<std::size_t>(info->nameLen));
    output.crtc = static_cast<std::uint32_t>(info->crtc);
    output.connected = info->connection == RR_Connected;
    XRRFreeOutputInfo(info);
    if (output.connected) output.edid = edidProperty(display, resources->outputs[i]);
    list.push_back(std::move(output));
  }
  XRRFreeScreenResources(resources);
  return list;
}

std::optional<RandrOutput> RandrScreen::output(std::uint32_t id) const {
  for (auto& o : outputs())
    if (o.id == id) return o;
  return std::nullopt;
}

int RandrScreen::gammaSize(std::uint32_t outputID) const {
  if (!available_ || !session_.isAlive()) return 0;
  const auto crtc = crtcOf(session_.display(), session_.rootWindow(), outputID);
  return crtc ? XRRGetCrtcGammaSize(session_.display(), *crtc) : 0;
}

std::optional<GammaRamps> RandrScreen::gamma(std::uint32_t outputID) const {
  if (!available_ || !session_.isAlive()) return std::nullopt;
  const auto crtc = crtcOf(session_.display(), session_.rootWindow(), outputID);
  if (!crtc) return std::nullopt;
  XRRCrtcGamma* gamma = XRRGetCrtcGamma(session_.display(), *crtc);
  if (!gamma) return std::nullopt;
  GammaRamps ramps;
  if (gamma->size > 0) {
    const auto n = static_cast<std::size_t>(gamma->size);
    ramps.red.assign(gamma->red, gamma->red + n);
    ramps.green.assign(gamma->green, gamma->green + n);
    ramps.blue.assign(gamma->blue, gamma->blue + n);
  }
  XRRFreeGamma(gamma);
  if (ramps.red.empty()) return std::nullopt;
  return ramps;
}

int RandrScreen::setGamma(std::uint32_t outputID, const GammaRamps& ramps) {
  if (!available_ || !session_.isAlive()) return BadImplementation;
  Display* display = session_.display();
  const auto crtc = crtcOf(display, session_.rootWindow(), outputID);
  if (!crtc) return 1;
  const int size = XRRGetCrtcGammaSize(display, *crtc);
  const auto n = static_cast<std::size_t>(size);
  if (size <= 0 || ramps.red.size() != n || ramps.green.size() != n || ramps.blue.size() != n) return 1;
  XRRCrtcGamma* gamma = XRRAllocGamma(size);
  if (!gamma) return 1;
  std::copy(ramps.red.begin(), ramps.red.end(), gamma->red);
  std::copy(ramps.green.begin(), ramps.green.end(), gamma->green);
  std::copy(ramps.blue.begin(), ramps.blue.end(), gamma->blue);
  const int code = session_.trapErrors([&] { XRRSetCrtcGamma(display, *crtc, gamma); });
  XRRFreeGamma(gamma);
  return code;
}
