// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sim/RecordingLogSink.hpp"

#include "services/AppLog.hpp"

ScopedLogRecorder::ScopedLogRecorder() : sink_(std::make_shared<RecordingLogSink>()) { AppLog::setSink(sink_); }
ScopedLogRecorder::~ScopedLogRecorder() { AppLog::setSink(nullptr); }
