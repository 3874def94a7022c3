#include "main/speaker-probe/speaker_probe.h"

#include <nlohmann/json.hpp>

#include "main/speaker-probe/candidate_strings.h"
#include "main/speaker-probe/meeting_patterns.h"
#include "main/speaker-probe/meeting_reader.h"
#include "main/speaker-probe/probe_events.h"
#include "main/speaker-probe/speaker_resolution.h"

namespace ostrel::speaker {

SpeakerProbe::SpeakerProbe(ProbeSettings settings, const accessibility::Accessibility& accessibility, Clock& clock,
                           EventOutput& output)
    : settings_(std::move(settings)),
      accessibility_(accessibility),
      clock_(clock),
      output_(output),
      knownSelf_(settings_.knownSelf) {
  meetingPatterns();  // compiled now rather than in the middle of the first poll
}

void SpeakerProbe::sayHello() { output_.emit(helloEvent(accessibility_.isProcessTrusted())); }

void SpeakerProbe::run(std::stop_token stop) {
  sayHello();
  while (!stop.stop_requested()) {
    poll();
    clock_.sleepFor(settings_.pollInterval);
  }
}

Meeting SpeakerProbe::snapshot(bool trusted) const {
  if (!trusted) return {};
  const auto applications = accessibility_.runningApplications(settings_.bundleID);
  if (applications.empty()) return {};
  return readMeeting(accessibility_, applications.front().processIdentifier);
}

void SpeakerProbe::poll() {
  const bool granted = accessibility_.isProcessTrusted();
  if (lastGranted_ && *lastGranted_ != granted) output_.emit(permissionEvent(granted));
  lastGranted_ = granted;

  Meeting meeting = snapshot(granted);
  if (lastMeetingActive_ != meeting.hasWindows) {
    output_.emit(meetingEvent(meeting.hasWindows));
    lastMeetingActive_ = meeting.hasWindows;
  }

  if (meeting.ownName) knownSelf_ = meeting.ownName;
  const Resolution resolution =
      meeting.hasWindows ? resolveSpeaker(meeting, knownSelf_, settings_.patterns) : Resolution{};
  const std::optional<std::string> speaker = markerHold_.apply(resolution, clock_.now());
  // Spelled out: comparing the nested optionals directly would take "never
  // reported" and "reported absent" for the same thing.
  if (!lastSpeaker_ || *lastSpeaker_ != speaker) {
    output_.emit(speakerEvent(speaker));
    lastSpeaker_ = speaker;
  }

  if (meeting.hasWindows) {
    std::vector<std::string> others = remoteParticipants(meeting, knownSelf_);
    RosterKey key = rosterKey(meeting, others);
    if (lastRoster_ != key) {
      output_.emit(rosterEvent(meeting.total, knownSelf_, others));
      lastRoster_ = std::move(key);
    }
    if (!speaker) reportCandidates(meeting);
  }

  lastStrings_ = std::move(meeting.strings);
}

void SpeakerProbe::reportCandidates(const Meeting& meeting) {
  if (lastStrings_.empty() || !meeting.total || *meeting.total < 3) return;
  if (lastCandidateReport_ && clock_.now() - *lastCandidateReport_ < candidateInterval) return;
  const std::vector<std::string> fresh = freshCandidates(meeting.strings, lastStrings_);
  if (fresh.empty()) return;
  output_.emit(candidatesEvent(fresh));
  lastCandidateReport_ = clock_.now();
}

}  // namespace ostrel::speaker
