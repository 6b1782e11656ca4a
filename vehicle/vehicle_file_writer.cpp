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

#include <charconv>
#include <memory>
#include <sstream>
#include <string>

#include "vehicle/timeline_file.h"
#include "vehicle/vehicle.h"
#include "vehicle/vehicle_file.h"
#include "vehicle/vehicle_file_answers.h"
#include "vehicle/vehicle_file_faults.h"
#include "vehicle/vehicle_items.h"

namespace {

// A TOML basic string; zero bytes (ECU names have them) and other control characters escaped.
// Trailing zero bytes are the padding of names and calibration ids, but part of a VIN.
std::string emu_Quoted(const uint8_t* bytes, size_t n, bool padded = true) {
  while (padded && n > 0 && bytes[n - 1] == 0) --n;
  std::string out = "\"";
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = bytes[i];
    char escaped[8];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      snprintf(escaped, sizeof escaped, "\\u%04X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string emu_Hex(const uint8_t* bytes, size_t n) {
  std::string out = "\"";
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += b;
  }
  return out + "\"";
}

std::string emu_Codes(const uint16_t* codes, uint8_t n) {
  static constexpr char LETTERS[] = "PCBU";
  std::string out = "[";
  char code[16];
  for (uint8_t i = 0; i < n && i < EMU_MAX_DTCS; ++i) {
    snprintf(code, sizeof code, "%s\"%c%04X\"", i == 0 ? "" : ", ", LETTERS[codes[i] >> 14], codes[i] & 0x3FFF);
    out += code;
  }
  return out + "]";
}

// A PID's stored bytes (`n`, as written raw) as its item's physical value, when loading that value
// gives the same bytes back: a PID of banks holding two bytes (more than two banks) has none.
bool emu_NamedValue(const EmuVehicleItem& item, const uint8_t* bytes, size_t n, std::string* text) {
  if (item.bytes > n) return false;
  for (size_t i = item.bytes; i < n; ++i)
    if (bytes[i] != 0) return false;
  uint32_t raw = 0;
  for (uint8_t i = 0; i < item.bytes; ++i) raw = raw << 8 | bytes[i];
  return emu_ItemText(item, raw, text);
}

// `initial` is the ECU as a loaded file starts it: the tables of PIDs 41, 4F, 50 and 70 are
// written only where they differ from it, since a value given marks its PID supported.
void emu_WriteEcu(std::ostream& out, const EmuVehicle& v, const EmuEcu& initial, int number) {
  const EmuEcu& ecu = v.ecu[number - 1];
  out << "\n[ecu." << number << "]\n";
  const std::string name = emu_EcuNameText(ecu.ecuName, EMU_ECU_NAME_BYTES);
  out << "name = " << emu_Quoted(reinterpret_cast<const uint8_t*>(name.data()), name.size(), false) << "\n";
  out << "lamp = " << (ecu.milState != 0 ? "true" : "false") << "\n";
  out << "dtc.confirmed = " << emu_Codes(ecu.confirmedDtc, ecu.noOfDtcs) << "\n";
  out << "dtc.pending = " << emu_Codes(ecu.pendingDtc, ecu.noOfPendingDtcs) << "\n";
  out << "dtc.permanent = " << emu_Codes(ecu.permanentDtc, ecu.noOfPermanentDtcs) << "\n";
  out << "negative_response = " << static_cast<int>(ecu.negRespCode) << "\n";
  out << "vin = " << emu_Quoted(ecu.vin + EMU_VIN_FILL, EMU_VIN_BYTES - EMU_VIN_FILL, false) << "\n";
  out << "cal_ids = [";
  for (uint8_t i = 0; i < ecu.noOfCalIds && i < EMU_MAX_CAL_IDS; ++i)
    out << (i == 0 ? "" : ", ") << emu_Quoted(ecu.calId[i], EMU_CAL_ID_CHARS);
  out << "]\ncvns = [";
  for (uint8_t i = 0; i < ecu.noOfCvns && i < EMU_MAX_CVNS; ++i) out << (i == 0 ? "" : ", ") << emu_Hex(ecu.cvn[i], EMU_CVN_BYTES);
  out << "]\nipt = [";
  for (uint8_t i = 0; i < ecu.noOfIptCounters && i < EMU_MAX_IPT_COUNTERS; ++i) out << (i == 0 ? "" : ", ") << ecu.iptCounter[i];
  out << "]\n";
  out << "monitors = " << emu_Hex(ecu.dataPid01 + 1, 3) << "\n";
  uint8_t map[EMU_SUP_PID_BYTES];
  for (uint8_t i = 0; i < EMU_SUP_PID_BYTES; ++i) map[i] = ecu.supPids[i];
  out << "supported = " << emu_Hex(map, EMU_SUP_PID_BYTES) << "\n";
  out << "freeze_supported = " << emu_Hex(ecu.supPidsSid02, EMU_SUP_PID_BYTES) << "\n";
  out << "info_types = " << emu_Hex(ecu.supInfoTypes, 4) << "\n";
  const uint8_t o2 = ecu.dataPid13or1D;
  const uint8_t address = ecu.address, canAddress = ecu.canAddress;
  out << "address = " << emu_Hex(&address, 1) << "\n";
  out << "can_address = " << emu_Hex(&canAddress, 1) << "\n";
  out << "o2_sensors = " << emu_Hex(&o2, 1) << "\n";
  const struct {
    const char* key;
    const uint8_t* now;
    const uint8_t* initially;
    size_t n;
  } tables[] = {{"41", ecu.dataPid41, initial.dataPid41, 4},
                {"4F", ecu.dataPid4F, initial.dataPid4F, 4},
                {"50", ecu.dataPid50, initial.dataPid50, 4},
                {"70", ecu.dataPid70, initial.dataPid70, EMU_PID70_BYTES}};
  for (const auto& t : tables)
    if (memcmp(t.now, t.initially, t.n) != 0) out << "pid." << t.key << " = " << emu_Hex(t.now, t.n) << "\n";
  for (int pid = 0; pid < 256; ++pid) {
    if ((ecu.pidValueSet[pid >> 3] & (1u << (pid & 7))) == 0) continue;
    const EmuPidClass cls = emu_GetPidClass(static_cast<uint8_t>(pid));
    const size_t n = cls == EmuPidClass::Generic1 ? 1 : cls == EmuPidClass::Generic4 ? 4 : 2;
    // A PID that also moves keeps its bytes (the freeze frames send them) under pid.XX: its name
    // holds the motion.
    bool moves = false;
    for (uint8_t i = 0; i < ecu.noOfMotions && i < EMU_MAX_MOTIONS; ++i) moves = moves || ecu.motion[i].pid == pid;
    std::string value;
    if (const EmuVehicleItem* item = emu_FindVehicleItemByPid(static_cast<uint8_t>(pid));
        item != nullptr && !moves && emu_NamedValue(*item, ecu.pidValue[pid], n, &value)) {
      out << item->name << " = " << value << "\n";
      continue;
    }
    char key[8];
    snprintf(key, sizeof key, "%02X", pid);
    out << "pid." << key << " = " << emu_Hex(ecu.pidValue[pid], n) << "\n";
  }
  static constexpr const char* WAVES[] = {"ramp", "sine", "walk"};
  for (uint8_t i = 0; i < ecu.noOfMotions && i < EMU_MAX_MOTIONS; ++i) {
    const EmuMotion& m = ecu.motion[i];
    const EmuVehicleItem* item = emu_FindVehicleItemByPid(m.pid);
    std::string from, to;
    if (item == nullptr || !emu_ItemText(*item, m.low, &from) || !emu_ItemText(*item, m.high, &to)) continue;
    char period[32];  // the shortest text of a double that reads back the same, in any locale
    *std::to_chars(period, period + sizeof period - 1, m.periodMs / 1000.0).ptr = '\0';
    out << item->name << " = { from = " << from << ", to = " << to << ", wave = \"" << WAVES[static_cast<int>(m.wave)]
        << "\", period = " << period << " }\n";
  }
  emu_WriteTestResults(out, ecu);
  emu_WriteAnswers(out, v, static_cast<uint8_t>(number - 1));
  emu_WriteEcuFaults(out, v.faults.ecu[number - 1]);
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
    out << "trace = " << emu_Quoted(reinterpret_cast<const uint8_t*>(copy->trace.path), strlen(copy->trace.path)) << "\n";
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
