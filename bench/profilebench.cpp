// Time of reading a device's profile, as a save does, against indicator-sim pacing the line as a
// real one would, next to the floor that the characters on the wire alone take.
//
// Usage: indicator-profile-bench [N]   (N saves at each baud rate; 5)
#include "blocking.h"
#include "profile.h"
#include "profilereader.h"
#include "readallbench.h"
#include "session.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return ReadAllBench::run(argc, argv, Profiles::readParameters(), [](Session &session) {
        return [&session] {
            Profiles::Origin origin;
            origin.address = 1; // the simulator's
            ProfileReader reader(session, origin);
            Blocking::runToEnd(reader);
            return reader.complete();
        };
    });
}
