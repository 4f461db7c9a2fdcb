// qs730-sim: runs one simulated module until SIGINT or SIGTERM; SIGUSR1
// restarts it (a power cycle). With --module, several modules on one line.
//
// The first line on stdout is the device to open (or the link given with
// --link), so scripts can read it. With --master, the line has a polling
// master of its own and the devices printed are listener endpoints.
#include "Gateway.h"
#include "PolledLine.h"
#include "Registers.h"
#include "SimLine.h"
#include "SimModule.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const char* const Usage =
    "usage: qs730-sim [--link PATH] [--address 1..247] [--baud BPS] [--parity none|odd|even|0|1|2]"
    " [--serial WORD|A0042] [--type CODE] [--current UA] [--voltage MV] [--delay MS] [--bad-crc N] "
    "[--link-change at-once|after-restart] [--current-error GAIN%,UA] [--voltage-error GAIN%,MV] "
    "[--late N] [--foreign N] [--cut N] [--garbage N] [--flags A,B] [--refuse REG:CODE]... "
    "[--lose-reply REG[:N]]... "
    "[--module ADDRESS[:SERIAL[:BAUD[:PARITY[:TYPE]]]]]... [--master POLL,...] [--period MS] "
    "[--timeout MS] [--pause MS] [--listeners N] [--status FILE] [--fault KIND:N[@ADDRESS]]... "
    "[--babble-ms MS] [--tcp PORT | --rtu-tcp PORT] [--gateway-delay MS] [--help] "
    "[--help-master] [--help-gateway]\n";

const char* const GatewayHelp =
    "With --tcp PORT the modules (--module, or the one module of the other options) sit behind\n"
    "a Modbus TCP gateway at 127.0.0.1:PORT (0: a free port); with --rtu-tcp PORT behind a\n"
    "transparent serial server there (RTU frames as they are over TCP). The line behind it runs\n"
    "at --baud and --parity. Standard output: the port as the tool spells it\n"
    "(tcp:127.0.0.1:PORT, rtu-tcp:127.0.0.1:PORT). The gateway's faults:\n"
    "  --fault KIND:N      every N-th request: no-path (exception 10), no-answer (exception 11),\n"
    "                      delay (the answer --gateway-delay MS late, 300), drop (the\n"
    "                      connection closed on the request), drop-mid (half the answer, then\n"
    "                      closed), wrong-id (another transaction number), stale (a copy with\n"
    "                      the transaction number before, then the answer), wrong-protocol\n"
    "                      (protocol 1), short-length (the MBAP length one short)\n";

const char* const MasterHelp =
    "With --master the line has a polling master of its own, the modules (--module, or the one\n"
    "module of the other options) and listener endpoints, at --baud and --parity:\n"
    "  --master POLL,...   the master's round, one request every --period MS (20) in turn;\n"
    "                      POLL is ADDRESS:REG:COUNT (a read, function 3) or\n"
    "                      ADDRESS:REG=VALUE[/VALUE]... (a write, function 16)\n"
    "  --timeout MS        how long the master waits for an answer after its request (100)\n"
    "  --pause MS          how long the line must have been quiet before the master's\n"
    "                      next request (10)\n"
    "  --listeners N       listener endpoints (1): pseudo-terminals that hear everything on the\n"
    "                      line; what a listener writes reaches nobody and is only counted\n"
    "  --status FILE       the counts, written every 200 ms and when the line stops\n"
    "  --fault KIND:N[@ADDRESS]  every N-th transmission of the master (or of the module at\n"
    "                      ADDRESS) goes out spoilt instead: noise (2..7 bytes that form no\n"
    "                      frame), joined (the frame twice without silence), cut (its first\n"
    "                      half), long (300 bytes with a right CRC), babble (garbage for\n"
    "                      --babble-ms MS, 100), crc (the high byte of the CRC inverted)\n"
    "Characters take 11 bits; frames are 3.5 characters (at least 2 ms) apart; a module\n"
    "answers that long plus --delay after the request.\n"
    "Standard output: one line per listener endpoint, the first at --link PATH and the\n"
    "others at PATH.2, PATH.3, ... when --link is given (else the pseudo-terminals).\n"
    "On SIGINT or SIGTERM the counts follow there, as in the status file, one \"key value\"\n"
    "a line: requests (the master's turns, spoilt ones too), replies (answers taken,\n"
    "exceptions included), exceptions (of the replies), timeouts (requests left without\n"
    "an answer), bad_replies (no answer, heard while waiting), listener_bytes (written by\n"
    "the listeners), fault_<KIND> (spoilt so far).\n";

// The faults that each spoil the module's first N answers, as --bad-crc does.
constexpr int LateReplyMs = 500; // past the master's time-out, within its late-reply window

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "qs730-sim: %s\n%s", message.c_str(), Usage);
    std::exit(2);
}

// Whole text as an unsigned number (decimal, or hex with 0x) within max.
unsigned long Number(const std::string& option, const char* text, unsigned long max) {
    char* end = nullptr;
    errno = 0;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned long v = std::strtoul(text, &end, hex ? 16 : 10); // "0042" is decimal
    if (!*text || *end || errno || text[0] == '-' || v > max)
        Fail("bad value for " + option + ": " + text);
    return v;
}

int Parity(const char* text) {
    const std::string t = text;
    if (t == "none" || t == "0")
        return 0;
    if (t == "odd" || t == "1")
        return 1;
    if (t == "even" || t == "2")
        return 2;
    Fail(std::string("bad parity: ") + text);
}

sim::LinkChange LinkChangeOption(const char* text) {
    const std::string t = text;
    if (t == "at-once")
        return sim::LinkChange::AtOnce;
    if (t == "after-restart")
        return sim::LinkChange::AfterRestart;
    Fail(std::string("bad value for --link-change: ") + text);
}

// "A0042" (letter and number) or a plain serial-number word.
uint16_t Serial(const char* text) {
    if (std::isalpha(static_cast<unsigned char>(text[0]))) {
        const int letter = std::toupper(static_cast<unsigned char>(text[0])) - 'A';
        const auto number = Number("--serial", text + 1, reg::MaxSerialNumber);
        return reg::EncodeSerial(letter, static_cast<int>(number));
    }
    return static_cast<uint16_t>(Number("--serial", text, 0xFFFF));
}

// "GAIN%,OFFSET": the module's own gain error in percent and offset error in
// units of the reading, both signed. "--current-error 0.6,15" makes a module
// that reads 0.6 % high and 15 uA over with its default coefficients: one
// that needs calibrating.
void Error(const std::string& option, const char* text, double& gain, double& offset) {
    char* end = nullptr;
    errno = 0;
    const double percent = std::strtod(text, &end);
    if (end == text || *end != ',' || errno)
        Fail("bad value for " + option + ": " + text);
    const char* second = end + 1;
    const double units = std::strtod(second, &end);
    if (end == second || *end || errno || std::fabs(percent) > 50 || std::fabs(units) > 10000)
        Fail("bad value for " + option + ": " + text);
    gain = percent / 100;
    offset = units;
}

// "A,B": the words of the flag registers 1024 and 1026, "0x10,0" for an ADC
// read error, "0,1" for an input out of range.
void Flags(const std::string& option, const char* text, uint16_t& a, uint16_t& b) {
    const char* comma = std::strchr(text, ',');
    if (!comma)
        Fail("bad value for " + option + ": " + text);
    a = static_cast<uint16_t>(Number(option, std::string(text, comma).c_str(), 0xFFFF));
    b = static_cast<uint16_t>(Number(option, comma + 1, 0xFFFF));
}

// "REG:CODE": writes of register REG get Modbus exception CODE (1..255).
std::pair<uint16_t, uint8_t> Refusal(const char* text) {
    const char* colon = std::strchr(text, ':');
    if (!colon)
        Fail(std::string("bad value for --refuse: ") + text);
    const std::string reg(text, colon);
    const auto number = Number("--refuse", reg.c_str(), 0xFFFF);
    const auto code = Number("--refuse", colon + 1, 0xFF);
    if (code == 0)
        Fail(std::string("bad value for --refuse: ") + text);
    return {static_cast<uint16_t>(number), static_cast<uint8_t>(code)};
}

// "REG[:N]": the answers to the next N writes (1 when left out) of
// register REG go missing, the writes being carried out.
std::pair<uint16_t, int> LostReplies(const char* text) {
    const char* colon = std::strchr(text, ':');
    const std::string reg = colon ? std::string(text, colon) : std::string(text);
    const auto number = Number("--lose-reply", reg.c_str(), 0xFFFF);
    const auto n = colon ? Number("--lose-reply", colon + 1, 1000000) : 1;
    if (n == 0)
        Fail(std::string("bad value for --lose-reply: ") + text);
    return {static_cast<uint16_t>(number), static_cast<int>(n)};
}

// "ADDRESS[:SERIAL[:BAUD[:PARITY[:TYPE]]]]": one module of a line, the other
// options giving what a field left out does not.
sim::Options ModuleOption(const std::string& text, sim::Options o) {
    std::vector<std::string> fields;
    for (std::string::size_type start = 0;;) {
        const auto colon = text.find(':', start);
        fields.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    if (fields.size() > 5)
        Fail("bad value for --module: " + text);
    o.address = static_cast<uint8_t>(Number("--module", fields[0].c_str(), 247));
    if (fields.size() > 1 && !fields[1].empty())
        o.serial = Serial(fields[1].c_str());
    if (fields.size() > 2 && !fields[2].empty())
        o.baud = static_cast<int>(Number("--module", fields[2].c_str(), 115200));
    if (fields.size() > 3 && !fields[3].empty())
        o.parity = Parity(fields[3].c_str());
    if (fields.size() > 4 && !fields[4].empty())
        o.typeCode = static_cast<uint16_t>(Number("--module", fields[4].c_str(), 0xFFFF));
    if (o.address < 1 || reg::SpeedIndex(o.baud) < 0)
        Fail("bad value for --module: " + text);
    return o;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    for (std::string::size_type start = 0;;) {
        const auto at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

// "ADDRESS:REG:COUNT" or "ADDRESS:REG=VALUE[/VALUE]...", comma-separated.
std::vector<sim::Poll> Polls(const std::string& text) {
    std::vector<sim::Poll> polls;
    for (const std::string& item : Split(text, ',')) {
        const auto equals = item.find('=');
        const std::vector<std::string> fields = Split(item.substr(0, equals), ':');
        if (fields.size() != (equals == std::string::npos ? 3u : 2u))
            Fail("bad value for --master: " + text);
        sim::Poll p;
        p.address = static_cast<uint8_t>(Number("--master", fields[0].c_str(), 247));
        p.first = static_cast<uint16_t>(Number("--master", fields[1].c_str(), 0xFFFF));
        if (equals == std::string::npos) {
            p.count = static_cast<uint16_t>(Number("--master", fields[2].c_str(), 125));
        } else {
            for (const std::string& v : Split(item.substr(equals + 1), '/'))
                p.values.push_back(static_cast<uint16_t>(Number("--master", v.c_str(), 0xFFFF)));
            if (p.values.size() > 123)
                Fail("bad value for --master: " + text);
            p.count = static_cast<uint16_t>(p.values.size());
        }
        if (p.address < 1 || p.count < 1)
            Fail("bad value for --master: " + text);
        polls.push_back(p);
    }
    return polls;
}

// "KIND:N[@ADDRESS]".
sim::FaultRule FaultOption(const std::string& text) {
    const auto at = text.find('@');
    const std::vector<std::string> fields = Split(text.substr(0, at), ':');
    sim::FaultRule rule;
    int kind = 0;
    while (kind < sim::FaultKinds &&
           (fields.empty() || fields[0] != sim::FaultName(static_cast<sim::Fault>(kind))))
        ++kind;
    if (kind == sim::FaultKinds || fields.size() != 2)
        Fail("bad value for --fault: " + text);
    rule.kind = static_cast<sim::Fault>(kind);
    rule.every = static_cast<int>(Number("--fault", fields[1].c_str(), 1000000));
    if (at != std::string::npos)
        rule.address = static_cast<int>(Number("--fault", text.c_str() + at + 1, 247));
    if (rule.every < 1 || (at != std::string::npos && rule.address < 1))
        Fail("bad value for --fault: " + text);
    return rule;
}

// "KIND:N" of the gateway's faults.
std::pair<sim::GatewayFault, int> GatewayFaultOption(const std::string& text) {
    const std::vector<std::string> fields = Split(text, ':');
    int kind = 0;
    while (kind < sim::GatewayFaultKinds &&
           fields[0] != sim::GatewayFaultName(static_cast<sim::GatewayFault>(kind)))
        ++kind;
    if (kind == sim::GatewayFaultKinds || fields.size() != 2)
        Fail("bad value for --fault: " + text);
    const int every = static_cast<int>(Number("--fault", fields[1].c_str(), 1000000));
    if (every < 1)
        Fail("bad value for --fault: " + text);
    return {static_cast<sim::GatewayFault>(kind), every};
}

// Modules behind a gateway until SIGINT or SIGTERM; SIGUSR1 restarts them all.
int RunGateway(sim::GatewayKind kind, uint16_t port, const std::vector<sim::Options>& modules,
               const sim::Options& line, const std::vector<std::string>& faults, int gatewayDelayMs,
               int delayMs, int badCrc, const sigset_t& stopSignals) {
    sim::Gateway gateway(kind, modules, port, line.baud, line.parity);
    for (std::size_t i = 0; i < gateway.size(); ++i) {
        gateway.module(i).delayAll(delayMs);
        gateway.module(i).corruptCrcNext(badCrc);
    }
    for (const std::string& text : faults) {
        const auto [fault, every] = GatewayFaultOption(text);
        gateway.setFault(fault, every);
    }
    gateway.setDelay(gatewayDelayMs);
    std::printf("%s\n", gateway.portName().c_str());
    std::fflush(stdout);
    std::fprintf(stderr,
                 "qs730-sim: %s, %zu modules behind a %s at %d bit/s, parity %d; stop with "
                 "Ctrl+C, restart with kill -USR1 %d\n",
                 gateway.portName().c_str(), gateway.size(),
                 kind == sim::GatewayKind::ModbusTcp ? "Modbus TCP gateway"
                                                     : "transparent serial server",
                 line.baud, line.parity, static_cast<int>(getpid()));
    int signal = 0;
    while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1) {
        for (std::size_t i = 0; i < gateway.size(); ++i)
            gateway.module(i).restart();
        std::fprintf(stderr, "qs730-sim: restarted\n");
    }
    return 0;
}

// Makes the link when one is asked for and prints the first line: the device
// to open. False, having said why, when the link cannot be made.
template <class Line> bool Publish(Line& line, const std::string& link) {
    if (!link.empty() && !line.linkAt(link)) {
        std::fprintf(stderr, "qs730-sim: cannot create the link %s: %s\n", link.c_str(),
                     std::strerror(errno));
        return false;
    }
    std::printf("%s\n", link.empty() ? line.devicePath().c_str() : link.c_str());
    std::fflush(stdout);
    return true;
}

// Several modules on one line until SIGINT or SIGTERM; SIGUSR1 restarts them all.
int RunLine(const std::vector<sim::Options>& modules, const std::string& link, int delayMs,
            int badCrc, const sigset_t& stopSignals) {
    sim::SimLine line(modules);
    for (std::size_t i = 0; i < line.size(); ++i) {
        line.module(i).delayAll(delayMs);
        line.module(i).corruptCrcNext(badCrc);
    }
    if (!Publish(line, link))
        return 1;
    std::fprintf(
        stderr,
        "qs730-sim: %s, a line of %zu modules; stop with Ctrl+C, restart with kill -USR1 %d\n",
        line.devicePath().c_str(), line.size(), static_cast<int>(getpid()));
    const auto show = [&line] {
        for (std::size_t i = 0; i < line.size(); ++i) {
            sim::SimModule& m = line.module(i);
            std::fprintf(
                stderr, "qs730-sim:   address %d, %d bit/s, parity %d, serial 0x%04X, type %d\n",
                m.address(), m.baud(), m.parity(), m.reg(reg::SerialNumber), m.reg(reg::TypeCode));
        }
    };
    show();
    int signal = 0;
    while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1) {
        for (std::size_t i = 0; i < line.size(); ++i)
            line.module(i).restart();
        std::fprintf(stderr, "qs730-sim: restarted\n");
        show();
    }
    return 0;
}

// A line with a master of its own until SIGINT or SIGTERM; SIGUSR1 restarts
// the modules. The counts go to standard output at the end.
int RunPolled(const std::vector<sim::Options>& modules, const sim::PolledLineOptions& options,
              const std::string& link, int delayMs, int badCrc, const sigset_t& stopSignals) {
    for (const sim::FaultRule& rule : options.faults)
        if (rule.address != 0 &&
            std::none_of(modules.begin(), modules.end(),
                         [&rule](const sim::Options& m) { return m.address == rule.address; }))
            Fail("no module at the address of --fault " + std::string(sim::FaultName(rule.kind)) +
                 "@" + std::to_string(rule.address));
    sim::PolledLine line(modules, options);
    for (std::size_t i = 0; i < line.size(); ++i) {
        line.module(i).delayAll(delayMs);
        line.module(i).corruptCrcNext(badCrc);
    }
    const std::vector<std::string> paths = line.listenerPaths();
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::string name = paths[i];
        if (!link.empty()) {
            name = i == 0 ? link : link + "." + std::to_string(i + 1);
            if (!line.linkAt(i, name)) {
                std::fprintf(stderr, "qs730-sim: cannot create the link %s: %s\n", name.c_str(),
                             std::strerror(errno));
                return 1;
            }
        }
        std::printf("%s\n", name.c_str());
    }
    std::fflush(stdout);
    std::fprintf(stderr,
                 "qs730-sim: a line with a master polling every %d ms, %zu modules and %zu "
                 "listener endpoints at %d bit/s, parity %d; stop with Ctrl+C, restart the "
                 "modules with kill -USR1 %d\n",
                 options.periodMs, line.size(), paths.size(), options.baud, options.parity,
                 static_cast<int>(getpid()));
    line.start();
    int signal = 0;
    while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1) {
        for (std::size_t i = 0; i < line.size(); ++i)
            line.module(i).restart();
        std::fprintf(stderr, "qs730-sim: restarted\n");
    }
    line.stop();
    std::fputs(sim::StatusText(line.counts()).c_str(), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    sim::Options options;
    std::string link;
    int delayMs = 0;
    int badCrc = 0;
    int late = 0;
    int foreign = 0;
    int cut = 0;
    int garbage = 0;
    std::vector<std::string> moduleTexts;
    sim::PolledLineOptions polled;
    bool withMaster = false;
    std::string masterOnly; // an option that needs --master
    std::vector<std::string> faultTexts;
    std::optional<sim::GatewayKind> gateway;
    uint16_t gatewayPort = 0;
    int gatewayDelayMs = 300;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (option == "--help-gateway") {
            std::fputs(Usage, stdout);
            std::fputs(GatewayHelp, stdout);
            return 0;
        }
        if (option == "--help-master") {
            std::fputs(Usage, stdout);
            std::fputs(MasterHelp, stdout);
            return 0;
        }
        if (i + 1 >= argc)
            Fail("missing value for " + option);
        const char* value = argv[++i];
        if (option == "--link")
            link = value;
        else if (option == "--address")
            options.address = static_cast<uint8_t>(Number(option, value, 247));
        else if (option == "--baud")
            options.baud = static_cast<int>(Number(option, value, 115200));
        else if (option == "--parity")
            options.parity = Parity(value);
        else if (option == "--serial")
            options.serial = Serial(value);
        else if (option == "--type")
            options.typeCode = static_cast<uint16_t>(Number(option, value, 0xFFFF));
        else if (option == "--current")
            options.appliedCurrentUa = static_cast<uint32_t>(Number(option, value, 0xFFFFFFFF));
        else if (option == "--current-error")
            Error(option, value, options.currentGainError, options.currentOffsetError);
        else if (option == "--voltage-error")
            Error(option, value, options.voltageGainError, options.voltageOffsetError);
        else if (option == "--flags")
            Flags(option, value, options.flagsA, options.flagsB);
        else if (option == "--bad-crc")
            badCrc = static_cast<int>(Number(option, value, 1000000));
        else if (option == "--late")
            late = static_cast<int>(Number(option, value, 1000000));
        else if (option == "--foreign")
            foreign = static_cast<int>(Number(option, value, 1000000));
        else if (option == "--cut")
            cut = static_cast<int>(Number(option, value, 1000000));
        else if (option == "--garbage")
            garbage = static_cast<int>(Number(option, value, 1000000));
        else if (option == "--delay")
            delayMs = static_cast<int>(Number(option, value, 60000));
        else if (option == "--link-change")
            options.linkChange = LinkChangeOption(value);
        else if (option == "--refuse")
            options.refusals.push_back(Refusal(value));
        else if (option == "--lose-reply")
            options.lostWriteReplies.push_back(LostReplies(value));
        else if (option == "--voltage")
            options.appliedVoltageMv = static_cast<uint32_t>(Number(option, value, 0xFFFFFFFF));
        else if (option == "--module")
            moduleTexts.push_back(value);
        else if (option == "--master") {
            const auto more = Polls(value);
            polled.polls.insert(polled.polls.end(), more.begin(), more.end());
            withMaster = true;
        } else if (option == "--period")
            polled.periodMs = static_cast<int>(Number(option, value, 60000));
        else if (option == "--timeout")
            polled.timeoutMs = static_cast<int>(Number(option, value, 60000));
        else if (option == "--pause")
            polled.pauseMs = static_cast<int>(Number(option, value, 60000));
        else if (option == "--listeners")
            polled.listeners = static_cast<int>(Number(option, value, 16));
        else if (option == "--status")
            polled.statusPath = value;
        else if (option == "--fault")
            faultTexts.push_back(value);
        else if (option == "--tcp" || option == "--rtu-tcp") {
            if (gateway)
                Fail("only one of --tcp and --rtu-tcp");
            gateway = option == "--tcp" ? sim::GatewayKind::ModbusTcp : sim::GatewayKind::RtuTcp;
            gatewayPort = static_cast<uint16_t>(Number(option, value, 65535));
        } else if (option == "--gateway-delay")
            gatewayDelayMs = static_cast<int>(Number(option, value, 60000));
        else if (option == "--babble-ms")
            polled.babbleMs = static_cast<int>(Number(option, value, 1000));
        else
            Fail("unknown option " + option);
        if (option == "--period" || option == "--timeout" || option == "--pause" ||
            option == "--listeners" || option == "--status" || option == "--fault" ||
            option == "--babble-ms")
            masterOnly = option;
    }
    if (gateway && withMaster)
        Fail("--master and a gateway do not go together");
    if (gateway && masterOnly == "--fault")
        masterOnly.clear(); // the gateway's faults
    if (!masterOnly.empty() && !withMaster)
        Fail(masterOnly + " needs --master");
    if (!gateway)
        for (const std::string& text : faultTexts)
            polled.faults.push_back(FaultOption(text));
    if (polled.periodMs < 1 || polled.timeoutMs < 1 || polled.listeners < 1 || polled.babbleMs < 1)
        Fail("bad value for --period, --timeout, --listeners or --babble-ms");
    if (options.address < 1)
        Fail("bad value for --address");
    if (reg::SpeedIndex(options.baud) < 0)
        Fail("unsupported speed " + std::to_string(options.baud));

    // Block the signals before the slave thread starts, so it inherits the mask
    // and only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        if (withMaster) {
            std::vector<sim::Options> modules;
            for (const std::string& text : moduleTexts)
                modules.push_back(ModuleOption(text, options));
            if (modules.empty())
                modules.push_back(options);
            polled.baud = options.baud;
            polled.parity = options.parity;
            return RunPolled(modules, polled, link, delayMs, badCrc, stopSignals);
        }
        if (gateway) {
            std::vector<sim::Options> modules;
            for (const std::string& text : moduleTexts)
                modules.push_back(ModuleOption(text, options));
            if (modules.empty())
                modules.push_back(options);
            for (const std::string& text : faultTexts)
                GatewayFaultOption(text); // refused before anything is served
            return RunGateway(*gateway, gatewayPort, modules, options, faultTexts, gatewayDelayMs,
                              delayMs, badCrc, stopSignals);
        }
        if (!moduleTexts.empty()) {
            std::vector<sim::Options> modules;
            for (const std::string& text : moduleTexts)
                modules.push_back(ModuleOption(text, options));
            return RunLine(modules, link, delayMs, badCrc, stopSignals);
        }
        sim::SimModule module(options);
        module.delayAll(delayMs);
        module.corruptCrcNext(badCrc);
        if (late > 0)
            module.delayNext(LateReplyMs, late); // after --delay, which it replaces
        module.foreignNext(foreign);
        module.cutNext(cut);
        module.garbageNext(garbage);
        if (!Publish(module, link))
            return 1;
        std::fprintf(stderr,
                     "qs730-sim: %s, address %d, %d bit/s, parity %d, new link %s; stop with "
                     "Ctrl+C, restart with kill -USR1 %d\n",
                     module.devicePath().c_str(), module.address(), module.baud(), module.parity(),
                     options.linkChange == sim::LinkChange::AtOnce ? "at once" : "after a restart",
                     static_cast<int>(getpid()));
        int signal = 0;
        while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1) {
            module.restart();
            std::fprintf(stderr, "qs730-sim: restarted: address %d, %d bit/s, parity %d\n",
                         module.address(), module.baud(), module.parity());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qs730-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
