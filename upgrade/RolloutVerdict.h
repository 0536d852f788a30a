#pragma once

#include <QString>

// What a package's rollout plan says about offering it to one terminal now.
struct RolloutVerdict {
    enum class Kind {
        NoPlan,          // the package goes to every terminal as it always did
        Open,            // the terminal's stage is open
        NotInOpenStage,  // its stage is not open yet, or no stage takes it
        Paused,
        Cancelled,
        Unavailable,  // the plan could not be read: nothing is offered meanwhile
        OutsideWindow,
        RetryLimit,  // the terminal's failed installs of the package reached the limit
    };
    Kind kind = Kind::NoPlan;
    QString detail;

    bool offers() const { return kind == Kind::NoPlan || kind == Kind::Open; }
};
