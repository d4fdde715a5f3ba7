#include "comName.h"

#include "failure.h"

#include "sncommon/comName.h"

namespace snctl {

// The same translation as snterm's -p, so both tools open the same device.
std::string translateDeviceName(const std::string& name) {
    char device[sncommon::kComNameSize];
    switch (sncommon::translateComName(name.c_str(), device)) {
        case sncommon::ComTranslation::Translated:
            return device;
        case sncommon::ComTranslation::Invalid:
            throw UsageError("device " + name + " names no serial port (COM1 to COM1000000)");
        case sncommon::ComTranslation::NotCom:
            break;
    }
    return name;
}

}  // namespace snctl
