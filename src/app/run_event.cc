// The run's Application event, composed from what the main sequence found and did.
#include "app/run_event.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "app/run_record.h"
#include "os/event_log.h"
#include "os/format.h"
#include "os/watchdog.h"

namespace {

const char kSource[] = "OrvaPatch";
const char kPatch[] = "2014.4.2";

// Event ids, one per road; the type goes with the id.
const uint32_t kInstalled = 1000;
const uint32_t kInstalledWithWarning = 1001;
const uint32_t kInstallerNotStarted = 1002;
const uint32_t kRefused = 1003;

bool Started(const RunReport& run) { return run.installerStart.failure == os::StartFailure::kNone; }

// The installer's codes of success, as Windows Installer and the fleet tools read them: done, a
// restart needed (3010), a restart started (1641).
bool Succeeded(int exitCode) { return exitCode == 0 || exitCode == 3010 || exitCode == 1641; }

uint32_t EventId(const RunReport& run) {
  if (run.checked && !run.accepted) return kRefused;
  if (!Started(run)) return kInstallerNotStarted;
  // A run ended after its installer has ended is told by what it did: the end came after.
  if (!Succeeded(run.installerExitCode) || !run.config.Done()) return kInstalledWithWarning;
  return kInstalled;
}

os::EventType TypeOf(uint32_t id) {
  if (id == kInstalled) return os::EventType::kInformation;
  if (id == kInstalledWithWarning) return os::EventType::kWarning;
  return os::EventType::kError;
}

// The administrator's texts are written in cp1252 with \x escapes, split where a hex digit
// follows one; the formatter would put each piece on a line of its own.
// clang-format off
// The steps' words for fleet tools, and after "erreur N" for the administrator, in ConfigStep's
// order.
const char* const kStepWords[] = {"open", "read", "create", "write", "flush", "rename"};
const char* const kStepPhrases[] = {"\xE0 l'ouverture", "\xE0 la lecture", "\xE0 la cr\xE9" "ation",
                                    "\xE0 l'\xE9" "criture", "\xE0 l'enregistrement",
                                    "au remplacement"};

// A number as the system gives exit codes and error numbers: 32-bit unsigned, in decimal.
std::string Decimal(uint32_t number) {
  return os::Format("%lu", static_cast<unsigned long>(number));
}

// The outcome's words for fleet tools, the same in every language, in |out| of |size| bytes: a
// left file's say why.
void OutcomeForTools(const ConfigResult& result, char* out, size_t size) {
  const char* words = "not reached";
  switch (result.outcome) {
    case ConfigOutcome::kUpdated: words = "updated"; break;
    case ConfigOutcome::kMissing: words = "missing"; break;
    case ConfigOutcome::kReadOnly: words = "left: read-only"; break;
    case ConfigOutcome::kInUse: words = "left: in use"; break;
    case ConfigOutcome::kLockFolder: words = "left: lock folder not private"; break;
    case ConfigOutcome::kLink:
      return os::FormatInto(out, size, "left: link (%s)", result.name.c_str());
    case ConfigOutcome::kNoSpace: words = "left: no space"; break;
    case ConfigOutcome::kDenied: words = "left: access denied"; break;
    case ConfigOutcome::kEmpty: words = "left: empty"; break;
    case ConfigOutcome::kTooBig: words = "left: too big"; break;
    case ConfigOutcome::kNoMemory: words = "left: no memory"; break;
    case ConfigOutcome::kFailed:
      return os::FormatInto(out, size, "left: error %lu at %s",
                              static_cast<unsigned long>(result.error),
                              kStepWords[static_cast<int>(result.step)]);
    case ConfigOutcome::kUnderWay: words = "interrupted"; break;
    case ConfigOutcome::kNotReached: break;
  }
  os::FormatInto(out, size, "%s", words);
}

// The outcome told to the administrator, after the file's feminine noun.
std::string OutcomeForAdministrator(const ConfigResult& result) {
  const std::string left = "laiss\xE9" "e telle quelle (";
  switch (result.outcome) {
    case ConfigOutcome::kUpdated: return "mise \xE0 jour";
    case ConfigOutcome::kMissing: return "absente";
    case ConfigOutcome::kReadOnly: return left + "lecture seule)";
    case ConfigOutcome::kInUse: return left + "ouverte par un autre programme)";
    case ConfigOutcome::kLockFolder:
      return left + "dossier des verrous C:\\Windows\\Temp\\OrvaPatch non r\xE9serv\xE9 aux "
                    "administrateurs)";
    case ConfigOutcome::kLink: return left + "lien ou second nom : " + result.name + ")";
    case ConfigOutcome::kNoSpace: return left + "disque plein)";
    case ConfigOutcome::kDenied: return left + "acc\xE8s refus\xE9)";
    case ConfigOutcome::kEmpty: return left + "fichier vide)";
    case ConfigOutcome::kTooBig: return left + "fichier trop grand)";
    case ConfigOutcome::kNoMemory: return left + "m\xE9moire insuffisante)";
    case ConfigOutcome::kFailed:
      return left + "erreur " + Decimal(result.error) + " " +
             kStepPhrases[static_cast<int>(result.step)] + ")";
    case ConfigOutcome::kUnderWay: return "interrompue en cours de mise \xE0 jour";
    case ConfigOutcome::kNotReached: break;
  }
  return "non trait\xE9" "e";
}

// Why the run was ended before its end, for the administrator.
std::string StalledWords(const RunReport& run) {
  return os::Format("aucune op\xE9ration n'a abouti en %u s apr\xE8s \xAB %s \xBB, "
                          "ex\xE9" "cution arr\xEAt\xE9" "e", run.stalledSeconds, run.stalledStep);
}

// Why the installer did not start, for the administrator, with the system's error number.
std::string StartFailureWords(const RunReport& run) {
  const unsigned long error = run.installerStart.error;
  if (run.stalledStep) return StalledWords(run);
  if (run.outOfMemory) return "m\xE9moire insuffisante";
  switch (run.installerStart.failure) {
    case os::StartFailure::kMissing:
      return "programme d'installation introuvable ou impossible \xE0 d\xE9marrer";
    case os::StartFailure::kNotReleased:
      return "programme d'installation diff\xE9rent de celui publi\xE9 avec le correctif";
    case os::StartFailure::kCleanRoom:
      return os::Format("dossier prot\xE9g\xE9 impossible \xE0 pr\xE9parer dans le dossier "
                              "Temp de Windows (erreur %lu)", error);
    case os::StartFailure::kRefused:
      return os::Format("d\xE9marrage refus\xE9 par une r\xE8gle de s\xE9" "curit\xE9 "
                              "(restriction logicielle ou AppLocker, erreur %lu)", error);
    case os::StartFailure::kNone:
    case os::StartFailure::kFailed:
      break;
  }
  return os::Format("programme d'installation impossible \xE0 d\xE9marrer (erreur %lu)",
                          error);
}

// The exit code as the system gives it, a 32-bit unsigned number.
std::string ExitCodeText(int code) { return Decimal(static_cast<uint32_t>(code)); }

// The refusal rests on no installation: the registry records none, and no library was read.
bool NothingRecorded(const RunReport& run) {
  return !run.check.recorded && !run.check.libraryRead;
}

// Why the console user's rights could not be taken, in |out| of |size| bytes, for the
// administrator with |french|, else for fleet tools: the impersonation level that the system gave
// instead, else its error.
void RightsWords(const RunAccount& account, bool french, char* out, size_t size) {
  const bool level = account.rightsLevel >= 0;
  const char* words = level ? (french ? "niveau d'emprunt d'identit\xE9 " : "impersonation level ")
                            : (french ? "erreur " : "error ");
  const unsigned long number = level ? static_cast<unsigned long>(account.rightsLevel)
                                     : static_cast<unsigned long>(account.rightsError);
  os::FormatInto(out, size, "%s%lu", words, number);
}

// Whose registry records no installation, for the administrator of a run of the system account:
// its own, and the console user's too when one was logged on.
std::string UnrecordedWords(const RunAccount& account) {
  std::string words = "aucune installation enregistr\xE9" "e dans le registre du compte "
                      "syst\xE8me (" + account.sid + ")";
  if (account.console == ConsoleUserFound::kNobody)
    return words + ", et aucun utilisateur n'est connect\xE9 \xE0 la console";
  if (account.console == ConsoleUserFound::kNoRights) {
    char why[64];
    RightsWords(account, true, why, sizeof(why));
    return words + os::Format(", et les droits de l'utilisateur connect\xE9 \xE0 la console (%s) "
                                    "n'ont pu \xEA" "tre pris (%s)",
                                account.consoleSid.c_str(), why);
  }
  return words + ", ni dans celui de l'utilisateur connect\xE9 \xE0 la console (" +
         account.consoleSid + ")";
}

// Why a run was refused, for fleet tools, the same in every language, in |out| of |size| bytes:
// no installation recorded in the registry of the account read (and of the console's user, when
// it is another, or why their rights were not taken), or the version text or library version
// that is not 2014.
void RefusalCause(const RunReport& run, char* out, size_t size) {
  const char* basis = run.check.basis.c_str();
  if (run.check.libraryRead) return os::FormatInto(out, size, "library: %s", basis);
  if (!NothingRecorded(run)) return os::FormatInto(out, size, "version: %s", basis);
  const RunAccount& account = run.account;
  const char* cause = "no installation recorded for";
  switch (account.console) {
    case ConsoleUserFound::kNobody:
      return os::FormatInto(out, size, "%s %s; nobody at the console", cause,
                              account.sid.c_str());
    case ConsoleUserFound::kNoInstallation:
      return os::FormatInto(out, size, "%s %s nor for the console user %s", cause,
                              account.sid.c_str(), account.consoleSid.c_str());
    case ConsoleUserFound::kNoRights: {
      char why[64];
      RightsWords(account, false, why, sizeof(why));
      return os::FormatInto(out, size, "%s %s; rights of the console user %s not taken (%s)",
                              cause, account.sid.c_str(), account.consoleSid.c_str(), why);
    }
    default: break;
  }
  os::FormatInto(out, size, "%s %s", cause, account.sid.c_str());
}

// The whole sentence, so that the event reads well where no message file is registered.
std::string Sentence(uint32_t id, const RunReport& run) {
  if (id == kRefused) {
    if (NothingRecorded(run) && (run.account.console == ConsoleUserFound::kNobody ||
                                 run.account.console == ConsoleUserFound::kNoInstallation ||
                                 run.account.console == ConsoleUserFound::kNoRights)) {
      return "Correctif Orvane 2014.4.2 refus\xE9 : " + UnrecordedWords(run.account) +
             " ; aucun fichier n'a \xE9t\xE9 modifi\xE9.";
    }
    if (run.check.basis.empty()) {
      return "Correctif Orvane 2014.4.2 refus\xE9 : aucune version install\xE9" "e n'a pu \xEA"
             "tre lue ; aucun fichier n'a \xE9t\xE9 modifi\xE9.";
    }
    return os::Format("Correctif Orvane 2014.4.2 refus\xE9 : la version install\xE9" "e, "
                            "%s, n'est pas une version 2014 ; aucun fichier n'a \xE9t\xE9 "
                            "modifi\xE9.", run.check.basis.c_str());
  }
  const char* lead = id == kInstalled ? "install\xE9"
                     : id == kInstalledWithWarning ? "\xE0 v\xE9rifier"
                                                   : "non install\xE9";
  std::string installer = Started(run) ? "programme d'installation termin\xE9 avec le code " +
                                             ExitCodeText(run.installerExitCode)
                                       : StartFailureWords(run);
  if (Started(run) && run.stalledStep) installer += ", puis " + StalledWords(run);
  return os::Format("Correctif Orvane 2014.4.2 %s : configuration %s, copie %s, %s.", lead,
                          OutcomeForAdministrator(run.config.main).c_str(),
                          OutcomeForAdministrator(run.config.copy).c_str(), installer.c_str());
}

// A step that the watchdog cancelled, the run going on, for the administrator; empty for none.
std::string CancelledWords(const RunReport& run) {
  const char* step = os::CancelledStep();
  if (step == nullptr || run.stalledStep) return std::string();
  return os::Format(" Op\xE9ration \xAB %s \xBB annul\xE9" "e au bout de %u s.", step,
                      os::PatienceSeconds());
}

// What the sentence adds when the machine record was not written.
const char kRecordUnwritten[] =
    " Enregistrement HKLM\\SOFTWARE\\OrvaPatch\\2014.4.2 non \xE9" "crit";

std::string RecordWords(const RecordResult& record) {
  const char* key = kRecordUnwritten;
  if (record.state == RecordState::kUntrusted) {
    return std::string(key) + " : d'autres comptes que les administrateurs et le syst\xE8me "
                              "peuvent modifier cette cl\xE9.";
  }
  if (record.state == RecordState::kFailed)
    return os::Format("%s (erreur %ld).", key, record.error);
  return std::string();
}
// clang-format on

// The event's texts that are composed without allocating, in storage kept from the start, so
// that a run out of memory still tells what it did.
struct FixedTexts {
  char mainOutcome[512];
  char copyOutcome[512];
  char exitCode[16];
  char cause[512];
  char sentence[512];  // the short sentence of a run out of memory
};
FixedTexts g_fixed;

// Composes the fixed texts of the event |id| of |run|.
void ComposeFixedTexts(uint32_t id, const RunReport& run) {
  OutcomeForTools(run.config.main, g_fixed.mainOutcome, sizeof(g_fixed.mainOutcome));
  OutcomeForTools(run.config.copy, g_fixed.copyOutcome, sizeof(g_fixed.copyOutcome));
  g_fixed.exitCode[0] = '\0';
  if (Started(run)) {
    os::FormatInto(g_fixed.exitCode, sizeof(g_fixed.exitCode), "%lu",
                   static_cast<unsigned long>(static_cast<uint32_t>(run.installerExitCode)));
  }
  g_fixed.cause[0] = '\0';
  if (id == kRefused) RefusalCause(run, g_fixed.cause, sizeof(g_fixed.cause));
}

// Writes the event |id| of |run|, its fixed texts composed, with |sentence|: its nine strings,
// and the account whose installation the run read as its user. False when it was not written.
bool WriteEvent(uint32_t id, const RunReport& run, const char* appName, const char* sentence) {
  const char* const strings[] = {
      sentence,
      appName,
      run.check.basis.c_str(),
      g_fixed.mainOutcome,
      g_fixed.copyOutcome,
      g_fixed.exitCode,
      g_fixed.cause,
      run.account.sid.c_str(),
      kPatch,
  };
  return os::ReportApplicationEvent(kSource, TypeOf(id), id, strings,
                                    static_cast<int>(sizeof(strings) / sizeof(strings[0])),
                                    run.account.sid.c_str());
}

// Composes and writes the event; false when it could not be written.
bool Report(const std::string& appName, const RunReport& run, const RecordResult& record) {
  const uint32_t id = EventId(run);
  ComposeFixedTexts(id, run);
  const std::string sentence = Sentence(id, run) + RecordWords(record) + CancelledWords(run);
  return WriteEvent(id, run, appName.c_str(), sentence.c_str());
}

// clang-format off
// Composes and writes the event of a run whose memory stays short, allocating nothing: the
// strings for tools are whole, the sentence says what it can.
bool ReportWithoutMemory(const std::string& appName, const RunReport& run,
                         const RecordResult& record) {
  const uint32_t id = EventId(run);
  ComposeFixedTexts(id, run);
  const bool unwritten = run.checked && record.state != RecordState::kWritten;
  const char* lead = id == kRefused ? "refus\xE9"
                     : id == kInstalled ? "install\xE9"
                     : id == kInstalledWithWarning ? "\xE0 v\xE9rifier"
                                                   : "non install\xE9";
  os::FormatInto(g_fixed.sentence, sizeof(g_fixed.sentence),
                   "Correctif Orvane 2014.4.2 %s : m\xE9moire insuffisante pour le compte rendu "
                   "d\xE9taill\xE9 ; programme d'installation %s%s.%s%s", lead,
                   Started(run) ? "termin\xE9 avec le code " : "non d\xE9marr\xE9",
                   g_fixed.exitCode, unwritten ? kRecordUnwritten : "", unwritten ? "." : "");
  return WriteEvent(id, run, appName.c_str(), g_fixed.sentence);
}
// clang-format on

// Writes the machine record of a run that checked the installation, once, registers the event
// source, and writes the event; false when the event could not be written.
bool RecordAndReport(const std::string& appName, const RunReport& run, RecordResult* record) {
  if (run.checked && record->state == RecordState::kNotTried) {
    const uint32_t id = EventId(run);
    *record = WriteMachineRecord(run, id, id == kInstalled);
  }
  RegisterRunEventSource();
  return Report(appName, run, *record);
}

// What a run that has not begun its main sequence has found, and its application name.
const RunReport kNothingFound;
const std::string kNoName;

// The run's event once written: the watchdog then writes none.
std::atomic<bool> g_reported{false};
// What the main sequence has found so far, for the watchdog's event.
std::atomic<const std::string*> g_appName{nullptr};
std::atomic<const RunReport*> g_run{nullptr};

// Writes the record and the event of a run that the watchdog ends, from what the run had found
// when it stopped moving: its own thread is held in a step since, and writes nothing more.
void ReportStalledRun(const char* lastStep, unsigned seconds) {
  if (g_reported.load()) return;
  try {
    const RunReport* tracked = g_run.load();
    RunReport run = tracked ? *tracked : RunReport();
    run.stalledStep = lastStep;
    run.stalledSeconds = seconds;
    const std::string* appName = g_appName.load();
    RecordResult record;
    (void)RecordAndReport(appName ? *appName : std::string(), run, &record);
  } catch (const std::bad_alloc&) {
  }
}

// What still escapes the main sequence, thrown where nothing catches it: the run's event, from
// what the run had found, allocating nothing, then the end with exit status 0.
[[noreturn]] void ReportEscaped() {
  if (!g_reported.exchange(true)) {
    const RunReport* tracked = g_run.load();
    const std::string* appName = g_appName.load();
    (void)ReportWithoutMemory(appName ? *appName : kNoName, tracked ? *tracked : kNothingFound,
                              RecordResult());
  }
  std::_Exit(0);
}

}  // namespace

void WatchRun() {
  std::set_terminate(&ReportEscaped);
  os::WatchSteps(&ReportStalledRun);
}

void TrackRun(const std::string* appName, const RunReport* run) {
  g_appName.store(appName);
  g_run.store(run);
}

void ReportRun(const std::string& appName, const RunReport& run) {
  RecordResult record;
  // Out of memory while the record or the event is composed, or the event not written: once
  // more, as memory is often back by then, and a call that the watchdog cancelled may go
  // through; the event is written by the system's one call, after every allocation. A record
  // written stays written. Fleet tools learn of an event lost even so by its absence; the run
  // itself goes on unchanged. Memory short both times: the short event, allocating nothing.
  bool outOfMemory = false;
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      outOfMemory = false;
      if (RecordAndReport(appName, run, &record)) {
        g_reported.store(true);
        return;
      }
    } catch (const std::bad_alloc&) {
      outOfMemory = true;
    }
  }
  // Memory stays short: the event is written from what is kept for it.
  if (outOfMemory && ReportWithoutMemory(appName, run, record)) g_reported.store(true);
}
