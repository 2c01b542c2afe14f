// dsphost --two-pass: the first pass, which runs every input through the
// plug-in with its output stage skipped and measures the integrated loudness
// of what would reach the stage, and the hand-over of those figures to the
// plug-in at each file's first block in the second.
#pragma once

#include <string>

#include "host/dsphost_stream.h"

// The first pass over every input (in order, as one stream, as the second
// will run them); keeps each one's integrated loudness (libebur128) in
// run.programmeLufs. With the leveller on (run.stageTarget finite), trials
// then run the whole chain told those values, and each value moves by what
// the file still lacked of the target after the stage (the loudness the
// ceiling took from its peaks; see host/two_pass_trial.h), so that the
// second pass lands each file on the target. False with a message when an
// input cannot be read (or is a stream, which can be read only once).
bool measure_programmes(Run& run, DspModule* module, DspMeasuringFunction measuring, std::string& error);
// Before the first block of each file: tells the plug-in its loudness.
void tell_programme(Run& run, DspModule* module, int file);
