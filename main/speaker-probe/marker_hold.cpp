#include "main/speaker-probe/marker_hold.h"

namespace ostrel::speaker {

std::optional<std::string> MarkerHold::apply(const Resolution& resolution, Clock::Instant now) {
  if (resolution.markerSeen) {
    if (resolution.name) {
      held_ = Held{*resolution.name, now};
    } else {
      held_.reset();
    }
    return resolution.name;
  }
  if (resolution.name) return resolution.name;  // inferred: the hold stays as it is
  if (held_ && now - held_->at < grace) return held_->name;
  held_.reset();
  return std::nullopt;
}

}  // namespace ostrel::speaker
