// How a station's rate is reckoned when every phone has a clock of its own and the processor is
// shared by all of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace norvale::bench {

// One phone's run: the flash bytes it moved, its bus's modelled time, and Norvale's processor
// time on its transfer path (its session's thread outside the simulator).
struct PhoneTime {
    double bytes = 0;
    double modelledMs = 0;
    double ownOnPathMs = 0;
};

// A station run:
// - a phone's time is its modelled bus time plus its own processor time on the transfer path,
//   as if every transfer waited for all of that time (each phone has its own bus, so no phone's
//   transfers wait for another's);
// - the station's time is the longest phone's, unless Norvale's processor time on all threads
//   (`ownCpuMs`: the sessions, the dump writers, all outside the simulator) is more than `cores`
//   processors can give in that time: then it is that processor time over the cores, as if the
//   phones had to wait for it;
// - the station's rate is every phone's bytes over the station's time.
struct StationTime {
    std::vector<PhoneTime> phones;
    double ownCpuMs = 0;
    unsigned cores = 1;

    double longestPhoneMs() const {
        double longest = 0;
        for (const PhoneTime& phone : phones) {
            longest = std::max(longest, phone.modelledMs + phone.ownOnPathMs);
        }
        return longest;
    }
    double stationMs() const {
        return std::max(longestPhoneMs(), ownCpuMs / static_cast<double>(std::max(cores, 1u)));
    }
    double bytesPerMs() const {
        double bytes = 0;
        for (const PhoneTime& phone : phones) bytes += phone.bytes;
        const double time = stationMs();
        return time > 0 ? bytes / time : 0;
    }
};

// The station's rate as a share of `phones` times the one-phone rate (1.0: no loss at all).
inline double shareOfScaledRate(double stationBytesPerMs, std::size_t phones,
                                double onePhoneBytesPerMs) {
    const double scaled = static_cast<double>(phones) * onePhoneBytesPerMs;
    return scaled > 0 ? stationBytesPerMs / scaled : 0;
}

}  // namespace norvale::bench
