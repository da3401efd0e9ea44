// What the fuzz targets share: decoding host values, names, numbers and frames from the input,
// and the check every input ends with.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <string>

#include "host/rig.h"

namespace kinetiscan::fuzz {

// A script name: one the plug-in knows, in a random letter case, or random text.
std::string anyName(FuzzedDataProvider& input);
// Mostly ordinary numbers, often NaN, infinities, negatives and the extremes.
double anyDouble(FuzzedDataProvider& input);
// A host value of any kind the host knows, or of a code it does not.
HostValue anyValue(host::Values& values, FuzzedDataProvider& input);
HostRect anyRect(FuzzedDataProvider& input);
// A frame of the camera's size whose content is taken from the input, repeated.
camera::Frame anyFrame(FuzzedDataProvider& input);
// Makes some service positions fail, or heals them.
void injectServiceFailure(host::Values& values, FuzzedDataProvider& input);
// Host failures at any call: an allocation refused, a service refused to the next request for
// it, or a service position failing.
void injectHostFailure(host::Rig& rig, FuzzedDataProvider& input);
// The capture driver mid-session: frames of another size, one message refused from now on, or
// gone.
void changeDriver(host::Rig& rig, FuzzedDataProvider& input);
// Whether a position now fails that keeps values alive on the host's side (releases, appends).
bool valuesMayStay(const host::Values& values);

// The process's one rig, in a new rig's state: each input starts where a fresh host would, without
// paying for building one.
host::Rig& freshRig();

// Ends an input: releases everything, aborts with the reason when the input left anything over,
// and resets the rig for the next one. Resetting here rather than at the next input's start frees
// within the input all it allocated, so libFuzzer sees as many frees as mallocs and runs its leak
// check only for inputs that really keep heap memory.
void endInput(host::Rig& rig, bool judgeValues);

// Replays that compare targets: from now on every input's answers fold into a journal, which ends
// with the parameters, the four images and both region lists read through the first member
// alive; lastJournal() is the journal of the input that ended last.
void startJournals();
std::uint64_t lastJournal();
// The message boxes the input that ended last showed.
std::size_t lastBoxCount();

}  // namespace kinetiscan::fuzz
