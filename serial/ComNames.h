// Resolution of the system's port names, "COM<n>", to device paths.
//
// A link named COM<n> in the user's port directory pins number n to its
// target. The other numbers go, from 1 upward, to the serial devices present:
// ttyUSB, ttyACM, ttyAMA, rfcomm, then the ttyS ports with a UART behind them,
// each family in numeric order. The places are injectable for tests.
#pragma once

#include <map>
#include <string>
#include <vector>

class ComNames {
public:
    struct Places {
        std::string portDirectory;
        std::string deviceDirectory = "/dev";
        std::string ttyClassDirectory = "/sys/class/tty";
        // Where the programs holding a device are seen; not used for names.
        std::string procDirectory = "/proc";
    };

    // /run/user/<uid>/talvenor where /run/user/<uid> exists, else /tmp/talvenor-<uid>.
    static std::string DefaultPortDirectory();
    // Creates the directory (mode 700) when it does not exist. True when it
    // is now a private directory of this user, not a link: what the links
    // in it are trusted from.
    static bool EnsurePortDirectory(const std::string& directory);

    ComNames();
    explicit ComNames(Places places);

    // n for "COM<n>" (any case, n from 1, no leading zero), else 0.
    static int PortNumber(const std::string& name);

    // The device path that "COM<n>" opens at the moment, or "" when none.
    std::string PathForPort(int number) const;
    // Every number that resolves at the moment, with its path.
    std::map<int, std::string> Ports() const;

    // The numbers linked in the port directory, with their targets.
    std::map<int, std::string> PinnedPorts() const;

    const Places& GetPlaces() const { return places; }

private:
    std::vector<std::string> DevicesInOrder() const;
    bool HasUart(const std::string& ttyName) const;

    Places places;
};
