// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/RandrScreen.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include "base/ProcessWide.hpp"
#include "platform/x11/X11Session.hpp"

namespace {
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
                 RRScreenChangeNotifyMask | RROutputChangeNotifyMask | RRCrtcChangeNotifyMask |
                     RROutputPropertyNotifyMask);
  events_ = session_.onEvent([this](XEvent& event) {
    if (event.type == eventBase_ + RRScreenChangeNotify) XRRUpdateConfiguration(&event);
    if (event.type != eventBase_ + RRScreenChangeNotify && event.type != eventBase_ + RRNotify) return;
    topology_.reset();
    // A changed property (a new EDID) only needs a fresh read, not a new display list.
    if (event.type == eventBase_ + RRNotify &&
        reinterpret_cast<const XRRNotifyEvent&>(event).subtype == RRNotify_OutputProperty)
      return;
    screenChanged.emit();
  });
}

RandrScreen::~RandrScreen() = default;

const RandrScreen::Topology& RandrScreen::topology() const {
  if (topology_) return *topology_;
  topology_.emplace();
  if (!available_ || !session_.isAlive()) return *topology_;
  Display* display = session_.display();
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, session_.rootWindow());
  if (!resources) return *topology_;
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
    if (output.crtc && !topology_->gammaSizes.count(output.crtc))
      topology_->gammaSizes[output.crtc] = XRRGetCrtcGammaSize(display, output.crtc);
    topology_->outputs.push_back(std::move(output));
  }
  XRRFreeScreenResources(resources);
  // A connection that broke halfway read nothing trustworthy; the next call tries again.
  if (!session_.isAlive()) {
    topology_.reset();
    return processWide<const Topology>();
  }
  return *topology_;
}

const RandrOutput* RandrScreen::find(std::uint32_t outputID) const {
  for (const auto& output : topology().outputs)
    if (output.id == outputID) return &output;
  return nullptr;
}

std::vector<RandrOutput> RandrScreen::outputs() const { return topology().outputs; }

std::vector<SessionOutput> RandrScreen::sessionOutputs() const {
  std::vector<SessionOutput> list;
  for (const auto& output : topology().outputs) list.push_back(output.sessionOutput());
  return list;
}

std::optional<RandrOutput> RandrScreen::output(std::uint32_t id) const {
  if (const auto* found = find(id)) return *found;
  return std::nullopt;
}

int RandrScreen::gammaSize(std::uint32_t outputID) const {
  const auto* output = find(outputID);
  if (!output || !output->crtc) return 0;
  const auto& sizes = topology().gammaSizes;
  const auto it = sizes.find(output->crtc);
  return it == sizes.end() ? 0 : it->second;
}

std::optional<GammaRamps> RandrScreen::gamma(std::uint32_t outputID) const {
  const auto* output = find(outputID);
  if (!output || !output->crtc || !session_.isAlive()) return std::nullopt;
  XRRCrtcGamma* gamma = XRRGetCrtcGamma(session_.display(), output->crtc);
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
  const auto* output = find(outputID);
  if (!output || !output->crtc) return 1;
  const int size = gammaSize(outputID);
  const auto n = static_cast<std::size_t>(size);
  if (size <= 0 || ramps.red.size() != n || ramps.green.size() != n || ramps.blue.size() != n) return 1;
  XRRCrtcGamma* gamma = XRRAllocGamma(size);
  if (!gamma) return 1;
  std::copy(ramps.red.begin(), ramps.red.end(), gamma->red);
  std::copy(ramps.green.begin(), ramps.green.end(), gamma->green);
  std::copy(ramps.blue.begin(), ramps.blue.end(), gamma->blue);
  // Sent without waiting for the server: a fade frame is this one request.
  // The sizes were checked above; a CRTC that vanished meanwhile draws an
  // error the session logs, and the RandR change that follows re-reads all.
  XRRSetCrtcGamma(session_.display(), output->crtc, gamma);
  session_.flush();
  XRRFreeGamma(gamma);
  return session_.isAlive() ? 0 : BadImplementation;
}
