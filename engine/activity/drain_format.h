#pragma once
// The drain text: one JSON array of eight-value records per batch,
// [first,root_id,name,kind,pid,second,count,last].
#include <string>

#include "engine/activity/aggregation.h"

namespace mirrow {

void append_drain_record(std::string& out, const ActivityGroup& group);
// Appends the batch's JSON array to out.
void format_drain_batch(GroupSpan batch, std::string& out);

using BatchFormatter = void (*)(GroupSpan batch, std::string& out);

// One vt_drain: takes the next batch, formats it outside the activity lock
// and replaces drain_text with it. If formatting fails, the batch stays at
// the head of the ready queue, drain_text keeps its text and the exception
// propagates.
const std::string& drain_activity(ActivityStore& store, BatchFormatter format = format_drain_batch);

}  // namespace mirrow
