#include "serial/open_failure.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <optional>
#include <system_error>

namespace volmar {

namespace fs = std::filesystem;

namespace {

std::string& DeviceChoiceHint() {
    static std::string hint = "in the Options menu's \"Devices...\" dialog";
    return hint;
}

struct TGroup {
    std::string Name;
    std::vector<std::string> Members;
};

std::optional<TGroup> GroupOf(gid_t Gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    while (::getgrgid_r(Gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found) return std::nullopt;
    TGroup result{found->gr_name, {}};
    for (char** member = found->gr_mem; member && *member; ++member)
        result.Members.emplace_back(*member);
    return result;
}

// Whether the group database lists this user in the group, which the
// groups of a session started before the user was added do not show.
bool ListedInGroup(gid_t Gid, const TGroup& Group) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (!found) return false;
    return found->pw_gid == Gid || std::find(Group.Members.begin(), Group.Members.end(),
                                             std::string(found->pw_name)) != Group.Members.end();
}

bool SessionHasGroup(gid_t Gid) {
    if (::getegid() == Gid) return true;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    const int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    return n > 0 && std::find(groups.begin(), groups.begin() + n, Gid) != groups.begin() + n;
}

std::string Missing(const std::string& Subject, const std::string& Why, std::uint16_t ComNumber,
                    const TDeviceRoots& Roots) {
    std::string text = Subject + " " + Why + ".";
    const std::vector<TSerialDevice> present = ListSerialDevices(Roots);
    if (present.empty()) {
        text += " No serial device is plugged in.";
    } else {
        text += " Serial devices present:";
        for (std::size_t i = 0; i < present.size(); ++i)
            text += (i ? ", " : " ") + present[i].Path;
        text += ".";
    }
    if (ComNumber != 0)
        text += " Plug the device in, or assign another to COM" + std::to_string(ComNumber) +
                " " + DeviceChoiceHint() + ".";
    return text;
}

std::string UserName(uid_t Uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(Uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    return found ? std::string(found->pw_name) : "uid " + std::to_string(Uid);
}

// A pseudo-terminal's far end, as the kernel numbers them (136 to 143).
bool IsPseudoTerminal(const struct stat& Node) {
    return S_ISCHR(Node.st_mode) && ::major(Node.st_rdev) >= 136 && ::major(Node.st_rdev) <= 143;
}

std::string Refused(const std::string& Subject, const std::optional<struct stat>& Node) {
    std::string text = Subject + " may not be opened by this user";
    const bool groupMayUse = Node && Node->st_gid != 0 &&
                             (Node->st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    const std::optional<TGroup> group = groupMayUse ? GroupOf(Node->st_gid) : std::nullopt;
    if (!group && Node && IsPseudoTerminal(*Node)) {
        // Its maker owns it; no group a user may join opens it.
        const std::string owner = UserName(Node->st_uid);
        return text + ": it is a pseudo-terminal, and another user (" + owner +
               ") owns it. Make the line as this user, or run the simulator as " + owner + ".";
    }
    if (!group) {
        // Joining a group would not help: the device has to be given one
        // for serial users, which is the administrator's matter.
        return text + ". Ask the computer's administrator to give it a group for serial "
                      "devices (dialout on Debian and Ubuntu, uucp on Arch) and to add you "
                      "to that group.";
    }
    text += ": it is open to the group " + group->Name + ".";
    if (ListedInGroup(Node->st_gid, *group) && !SessionHasGroup(Node->st_gid))
        return text + " You were added to that group after this session began: log out and "
                      "in again.";
    return text + " Join that group with: sudo usermod -aG " + group->Name +
           " $USER, then log out and in again.";
}

std::string Held(const std::string& Subject, std::uint16_t ComNumber, const std::string& Path,
                 const fs::path& Proc) {
    const std::vector<TDeviceHolder> holders = DeviceHolders(Path, Proc);
    std::string text = Subject + " is in use by ";
    if (holders.empty()) text += "another program";
    bool modemManager = false, onlyThis = !holders.empty();
    for (std::size_t i = 0; i < holders.size(); ++i) {
        const TDeviceHolder& holder = holders[i];
        const bool self = holder.Pid == ::getpid();
        text += (i ? ", " : "") + holder.Name + " (pid " + std::to_string(holder.Pid) +
                (self ? ", this program" : "") + ")";
        modemManager = modemManager || holder.Name == "ModemManager";
        onlyThis = onlyThis && self;
    }
    text += ".";
    if (modemManager)
        return text + " ModemManager tries every new serial device as a modem. Stop it "
                      "(sudo systemctl stop ModemManager), or tell it to leave this device "
                      "alone with a udev rule that sets ENV{ID_MM_DEVICE_IGNORE}=\"1\" for it.";
    if (onlyThis) return text + " Another of its ports has the device open.";
    return text + " Close that program" + (ComNumber ? ", or choose another port." : ".");
}

} // namespace

void SetDeviceChoiceHint(std::string Hint) { DeviceChoiceHint() = std::move(Hint); }

std::vector<TDeviceHolder> DeviceHolders(const std::string& Path, const fs::path& Proc) {
    std::vector<TDeviceHolder> holders;
    std::error_code ec;
    // A descriptor's link names the node the kernel opened, links resolved.
    const fs::path node = fs::canonical(Path, ec);
    if (ec) return holders;
    for (const fs::directory_entry& process : fs::directory_iterator(Proc, ec)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
        std::error_code fdEc;
        for (const fs::directory_entry& fd : fs::directory_iterator(process.path() / "fd", fdEc)) {
            std::error_code linkEc;
            if (fs::read_symlink(fd.path(), linkEc) != node) continue;
            std::string name;
            std::getline(std::ifstream(process.path() / "comm"), name);
            holders.push_back({std::stoi(pid), name.empty() ? "a process" : name});
            break;
        }
    }
    std::sort(holders.begin(), holders.end(),
              [](const TDeviceHolder& A, const TDeviceHolder& B) { return A.Pid < B.Pid; });
    return holders;
}

std::string OpenFailureDetail(int ErrorNumber, std::uint16_t ComNumber, const std::string& Path,
                              const TDeviceRoots& Roots) {
    const std::string subject =
        ComNumber ? "COM" + std::to_string(ComNumber) + " is " + Path + ", which" : Path;
    if (ErrorNumber == ENOENT || ErrorNumber == ENODEV || ErrorNumber == ENXIO)
        return Missing(subject, "does not exist", ComNumber, Roots);

    std::optional<struct stat> node;
    if (struct stat st{}; ::stat(Path.c_str(), &st) == 0) node = st;
    std::error_code ec;
    const std::string name = fs::canonical(Path, ec).filename().string();
    // An open of a ttyS slot the driver reserved with no UART there fails
    // with EIO: for the operator that device does not exist either.
    if (ErrorNumber == EIO && !ec && name.starts_with("ttyS") && !SerialSlotHasPort(name, Roots))
        return Missing(subject, "has no serial port behind it", ComNumber, Roots);

    if (ErrorNumber == ENOTTY || (node && !S_ISCHR(node->st_mode))) {
        std::string text = subject + " is not a serial port.";
        if (ComNumber)
            text += " Assign a serial device to COM" + std::to_string(ComNumber) +
                    " " + DeviceChoiceHint() + ".";
        return text;
    }
    if (ErrorNumber == EACCES || ErrorNumber == EPERM) return Refused(subject, node);
    if (ErrorNumber == EBUSY || ErrorNumber == EWOULDBLOCK)
        return Held(subject, ComNumber, Path, Roots.Proc);
    // Nothing to advise; the line is shown alone at times, so it gives the reason.
    return subject + " could not be opened: " + std::generic_category().message(ErrorNumber) + ".";
}

} // namespace volmar
