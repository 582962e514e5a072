// Turns SIGINT and SIGTERM into something a command can wait for: while an object of
// this class lives, those signals no longer end the process; they make Fd() readable
// (wait for it with WaitAny and Waitable::Readable) and Received() true. The previous
// handlers come back when the object is destroyed. One object at a time per process.
// Threads: created and destroyed on one thread; Received and Fd from any thread.
#pragma once

namespace kestrix::platform {

class TerminationSignal {
public:
    TerminationSignal();
    ~TerminationSignal();
    TerminationSignal(const TerminationSignal&) = delete;
    TerminationSignal& operator=(const TerminationSignal&) = delete;

    bool Received() const;
    int Fd() const;
    // The signal number received last (0: none).
    int Number() const;
};

}  // namespace kestrix::platform
