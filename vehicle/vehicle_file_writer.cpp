// Writing the running car as a vehicle file: every value the file format has, so that loading
// it gives the same car. Values with a name are written by it, in their unit; the ECUs the car
// has, and others only where they differ from the built-in car; the data tables of PIDs 41, 4F,
// 50 and 70 only where they differ from the built-in car's; the timeline's events last, all of
// them, fired or not. The file is written beside the old one and renamed over it once whole, so
// a full disk leaves the old file as it was.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>

#include "vehicle/timeline_file.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"
#include "vehicle/vehicle_file_faults.h"
#include "vehicle/vehicle_file_keys.h"
#include "vehicle/vehicle_file_uds.h"

namespace {

// An ECU's table, its keys in the table's order (vehicle_file_keys.h), then its faults. `initial`
// is the ECU as a loaded file starts it.
void emu_WriteEcu(std::ostream& out, const EmuVehicle& v, const EmuEcu& initial, int number) {
  const uint8_t idx = static_cast<uint8_t>(number - 1);
  out << "\n[ecu." << number << "]\n";
  size_t noOfKeys;
  const EmuEcuKey* keys = emu_EcuKeys(&noOfKeys);
  for (size_t k = 0; k < noOfKeys; ++k) emu_WriteEcuKey(out, keys[k], v, initial, idx);
  emu_WriteEcuFaults(out, v.faults.ecu[idx]);
  emu_WriteUds(out, v.ecu[idx], initial, number);
}

// What a save refuses to write over: opening a FIFO for writing waits for a reader (the command
// reader would hang), and a device or folder is no vehicle file.
constexpr struct {
  mode_t type;
  const char* what;
} NOT_A_FILE[] = {
    {S_IFIFO,  "a FIFO"},
    {S_IFDIR,  "a folder"},
    {S_IFCHR,  "a character device"},
    {S_IFBLK,  "a block device"},
    {S_IFSOCK, "a socket"},
};

std::string emu_FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Writes `text` as the file `path`: into a new file beside it, synced, then renamed over it, so
// that the file is either the old one byte for byte or the new one whole. An existing file keeps
// its permissions (and owner and group where allowed); a new one gets 0644 less the umask. A
// link is written through. 0, or -1 with `why` set and nothing left behind.
int emu_ReplaceFile(const char* path, const std::string& text, std::string* why) {
  std::string target = path;
  struct stat st;
  const bool exists = stat(path, &st) == 0;
  if (!exists && errno != ENOENT) {
    *why = strerror(errno);
    return -1;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    const char* what = "not a regular file";
    for (const auto& kind : NOT_A_FILE)
      if ((st.st_mode & S_IFMT) == kind.type) what = kind.what;
    *why = std::string("it is ") + what + ", not a regular file";
    return -1;
  }
  struct stat link;
  char resolved[PATH_MAX];
  if (exists && lstat(path, &link) == 0 && S_ISLNK(link.st_mode) && realpath(path, resolved) != nullptr)
    target = resolved;

  std::string temp;
  int fd = -1;
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  unsigned seed = static_cast<unsigned>(now.tv_nsec) ^ static_cast<unsigned>(getpid()) << 16;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    char suffix[16];
    snprintf(suffix, sizeof suffix, ".%06X", rand_r(&seed) & 0xFFFFFF);
    temp = target + suffix;
    fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *why = strerror(errno);
    return -1;
  }
  int failure = 0;
  for (size_t done = 0; failure == 0 && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) failure = n < 0 ? errno : EIO;
    else done += static_cast<size_t>(n);
  }
  if (failure == 0 && exists) {
    // Owner and group where this user may give them (else the file becomes this user's).
    if (st.st_uid != geteuid() || st.st_gid != getegid()) (void)!fchown(fd, st.st_uid, st.st_gid);
    if (fchmod(fd, st.st_mode & 07777) != 0) failure = errno;
  }
  if (failure == 0 && fsync(fd) != 0) failure = errno;
  if (close(fd) != 0 && failure == 0) failure = errno;
  if (failure == 0 && rename(temp.c_str(), target.c_str()) != 0) failure = errno;
  if (failure != 0) {
    unlink(temp.c_str());
    *why = strerror(failure);
    return -1;
  }
  // The new name itself survives a power cut once the folder is synced.
  const int folder = open(emu_FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return 0;
}

}  // namespace

int emu_SaveVehicleFile(const char* path, std::string* error) {
  auto copy = std::make_unique<EmuVehicle>();
  emu_VehicleLock();
  emu_VehicleAssign(*copy, vehicle);
  emu_VehicleUnlock();
  std::ostringstream out;
  out << "# A Padix vehicle: load it with vehicle=FILE or the command \"load FILE\".\n";
  out << "ecus = " << static_cast<int>(copy->maxEcu) << "\n";
  out << "protocol = " << static_cast<int>(vehicleProtocol.load()) << "\n";
  out << "jitter = " << (copy->dataJitterIsEnabled != 0 ? "true" : "false") << "\n";
  const unsigned deciVolts = copy->batteryDeciVolts;
  out << "battery = " << deciVolts / 10 << "." << deciVolts % 10 << "\n";
  emu_WriteCarFaults(out, copy->faults);
  if (copy->trace.path[0] != '\0') {
    out << "trace = " << emu_QuotedBytes(reinterpret_cast<const uint8_t*>(copy->trace.path), strlen(copy->trace.path), true) << "\n";
    out << "trace_loop = " << (copy->trace.loop != 0 ? "true" : "false") << "\n";
  }
  auto initial = std::make_unique<EmuVehicle>();
  emu_VehicleSetDefaults(*initial);
  // An ECU beyond those that answer is written only when it differs from the built-in one, so
  // that raising "ecus" after loading still gives the same car.
  for (int i = 0; i < EMU_MAX_ECUS; ++i) {
    std::ostringstream ecu;
    emu_WriteEcu(ecu, *copy, initial->ecu[i], i + 1);
    if (i >= copy->maxEcu) {
      std::ostringstream builtIn;
      emu_WriteEcu(builtIn, *initial, initial->ecu[i], i + 1);
      if (ecu.str() == builtIn.str()) continue;
    }
    out << ecu.str();
  }
  emu_WriteLineFaults(out, copy->faults);
  emu_WriteTimeline(out, emu_TimelineEvents());
  std::string why;
  if (emu_ReplaceFile(path, out.str(), &why) != 0) {
    *error = std::string("cannot write ") + path + ": " + why;
    return -1;
  }
  return 0;
}
