// How an operation of the gate's logic ended.
//
// The one failure convention of the logic folders: an operation that can
// fail prints its own messages as it goes (where and as the run has always
// printed them) and returns an Outcome, or a small result that holds one,
// which its caller cannot drop unread. The run sequence alone turns the
// outcomes of the phases into the exit code. A question that may have no
// answer returns an empty std::optional. The platform layer below reports
// a platform::Status, which the logic turns into an Outcome where it calls.
#pragma once

enum class [[nodiscard]] Outcome{
    Done,        // carried out
    Failed,      // not carried out; its message, if any, has been printed
    Interrupted, // stopped by an interruption (Ctrl-C and its kin)
};
