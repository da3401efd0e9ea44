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
// Whether a position now fails that keeps values alive on the host's side (releases, appends).
bool valuesMayStay(const host::Values& values);

// The process's one rig, reset to a new rig's state: each input starts where a fresh host would,
// without paying for building one.
host::Rig& freshRig();

// Releases everything and aborts with the reason when the run left anything over.
void requireBalanced(host::Rig& rig, bool judgeValues);

}  // namespace kinetiscan::fuzz
