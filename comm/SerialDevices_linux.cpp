// Linux: the devices from /dev/serial/by-id and /sys/class/tty.
#include "SerialDevices.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>
#include <tuple>

namespace comm {

namespace fs = std::filesystem;

namespace {

std::string readLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

// "ttyS10" after "ttyS9": the name's letters, then its number.
bool beforeByNumber(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& s) {
        size_t digits = s.size();
        while (digits > 0 && s[digits - 1] >= '0' && s[digits - 1] <= '9') {
            --digits;
        }
        // The number compared by its length, then its digits: no conversion
        // that a name with many digits could overflow.
        std::string number = s.substr(digits);
        while (number.size() > 1 && number.front() == '0') {
            number.erase(0, 1);
        }
        return std::make_tuple(s.substr(0, digits), number.size(), number);
    };
    return split(a) < split(b);
}

// The USB device a tty hangs off: manufacturer and product as it reports
// them ("FTDI FT232R USB UART").
std::string usbDescription(const fs::path& device) {
    std::error_code ec;
    for (fs::path dir = device; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        if (!fs::exists(dir / "product", ec)) {
            continue;
        }
        const std::string product = readLine(dir / "product");
        const std::string maker = readLine(dir / "manufacturer");
        if (maker.empty() || product.rfind(maker, 0) == 0) {
            return product;
        }
        return product.empty() ? maker : maker + " " + product;
    }
    return {};
}

} // namespace

std::vector<SerialDevice> serialDevices(const fs::path& root) {
    std::error_code ec;
    const fs::path dev = root / "dev";
    const fs::path sysTty = root / "sys/class/tty";

    // Stable names of USB adapters: by-id link -> device name.
    std::map<std::string, std::string> byId; // "ttyUSB0" -> "/dev/serial/by-id/usb-..."
    for (const auto& entry : fs::directory_iterator(dev / "serial/by-id", ec)) {
        const fs::path target = fs::canonical(entry.path(), ec);
        if (!ec) {
            byId.emplace(target.filename().string(),
                         "/dev/serial/by-id/" + entry.path().filename().string());
        }
        ec.clear();
    }

    std::set<std::string> console;
    {
        std::istringstream active(readLine(sysTty / "console/active"));
        for (std::string name; active >> name;) {
            console.insert(name);
        }
    }

    std::vector<SerialDevice> usb;
    std::vector<SerialDevice> builtIn;
    for (const auto& entry : fs::directory_iterator(sysTty, ec)) {
        const std::string name = entry.path().filename().string();
        const fs::path device = fs::canonical(entry.path() / "device", ec);
        if (ec || console.count(name) != 0) {
            ec.clear();
            continue; // no hardware behind it (a virtual terminal), or the console
        }
        SerialDevice d;
        d.node = "/dev/" + name;
        d.usb = device.string().find("/usb") != std::string::npos;
        if (d.usb) {
            const auto id = byId.find(name);
            d.path = id != byId.end() ? id->second : d.node;
            d.description = usbDescription(device);
            usb.push_back(d);
        } else if (fs::exists(entry.path() / "type", ec) &&
                   readLine(entry.path() / "type") != "0") {
            // A port of the serial core whose UART was detected; "0" is a
            // legacy port with nothing behind it.
            d.path = d.node;
            builtIn.push_back(d);
        }
        ec.clear();
    }
    std::sort(usb.begin(), usb.end(), [](const SerialDevice& a, const SerialDevice& b) {
        const bool aStable = a.path != a.node;
        const bool bStable = b.path != b.node;
        if (aStable != bStable) {
            return aStable; // adapters with a stable name first
        }
        return aStable ? a.path < b.path
                       : beforeByNumber(fs::path(a.node).filename().string(),
                                        fs::path(b.node).filename().string());
    });
    std::sort(builtIn.begin(), builtIn.end(), [](const SerialDevice& a, const SerialDevice& b) {
        return beforeByNumber(fs::path(a.node).filename().string(),
                              fs::path(b.node).filename().string());
    });
    usb.insert(usb.end(), builtIn.begin(), builtIn.end());
    return usb;
}

} // namespace comm
