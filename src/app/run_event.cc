// The run's Application event, composed from what the main sequence found and did.
#include "app/run_event.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "base/format.h"
#include "os/event_log.h"
#include "os/watchdog.h"

namespace {

const char kSource[] = "OrvaPatch";

// Event ids, one per road; the type goes with the id.
const uint32_t kInstalled = 1000;
const uint32_t kInstalledWithWarning = 1001;
const uint32_t kInstallerNotStarted = 1002;
const uint32_t kRefused = 1003;

bool Started(const RunReport& run) { return run.installerStart.failure == os::StartFailure::kNone; }

uint32_t EventId(const RunReport& run) {
  if (run.checked && !run.accepted) return kRefused;
  if (!Started(run)) return kInstallerNotStarted;
  if (run.installerExitCode != 0 || !run.config.Done() || run.stalledStep) {
    return kInstalledWithWarning;
  }
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
  return base::Format("%lu", static_cast<unsigned long>(number));
}

// The outcome's words for fleet tools, the same in every language: a left file's say why.
std::string OutcomeForTools(const ConfigResult& result) {
  switch (result.outcome) {
    case ConfigOutcome::kUpdated: return "updated";
    case ConfigOutcome::kMissing: return "missing";
    case ConfigOutcome::kReadOnly: return "left: read-only";
    case ConfigOutcome::kInUse: return "left: in use";
    case ConfigOutcome::kLockFolder: return "left: lock folder not private";
    case ConfigOutcome::kLink: return "left: link (" + result.name + ")";
    case ConfigOutcome::kNoSpace: return "left: no space";
    case ConfigOutcome::kDenied: return "left: access denied";
    case ConfigOutcome::kEmpty: return "left: empty";
    case ConfigOutcome::kTooBig: return "left: too big";
    case ConfigOutcome::kNoMemory: return "left: no memory";
    case ConfigOutcome::kFailed:
      return "left: error " + Decimal(result.error) + " at " +
             kStepWords[static_cast<int>(result.step)];
    case ConfigOutcome::kUnderWay: return "interrupted";
    case ConfigOutcome::kNotReached: break;
  }
  return "not reached";
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
  return base::Format("aucune op\xE9ration n'a abouti en %u s apr\xE8s \xAB %s \xBB, "
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
      return base::Format("dossier prot\xE9g\xE9 impossible \xE0 pr\xE9parer dans le dossier "
                              "Temp de Windows (erreur %lu)", error);
    case os::StartFailure::kRefused:
      return base::Format("d\xE9marrage refus\xE9 par une r\xE8gle de s\xE9" "curit\xE9 "
                              "(restriction logicielle ou AppLocker, erreur %lu)", error);
    case os::StartFailure::kNone:
    case os::StartFailure::kFailed:
      break;
  }
  return base::Format("programme d'installation impossible \xE0 d\xE9marrer (erreur %lu)",
                          error);
}

// The exit code as the system gives it, a 32-bit unsigned number.
std::string ExitCodeText(int code) { return Decimal(static_cast<uint32_t>(code)); }

// The refusal rests on no installation: the registry records none, and no library was read.
bool NothingRecorded(const RunReport& run) {
  return !run.check.recorded && !run.check.libraryRead;
}

// Why the console user's rights could not be taken, for the administrator with |french|, else
// for fleet tools: the impersonation level that the system gave instead, else its error.
std::string RightsWords(const RunAccount& account, bool french) {
  const bool level = account.rightsLevel >= 0;
  const char* words = level ? (french ? "niveau d'emprunt d'identit\xE9 " : "impersonation level ")
                            : (french ? "erreur " : "error ");
  const unsigned long number = level ? static_cast<unsigned long>(account.rightsLevel)
                                     : static_cast<unsigned long>(account.rightsError);
  return base::Format("%s%lu", words, number);
}

// Whose registry records no installation, for the administrator of a run of the system account:
// its own, and the console user's too when one was logged on.
std::string UnrecordedWords(const RunAccount& account) {
  std::string words = "aucune installation enregistr\xE9" "e dans le registre du compte "
                      "syst\xE8me (" + account.sid + ")";
  if (account.console == ConsoleUserFound::kNobody)
    return words + ", et aucun utilisateur n'est connect\xE9 \xE0 la console";
  if (account.console == ConsoleUserFound::kNoRights) {
    return words + base::Format(", et les droits de l'utilisateur connect\xE9 \xE0 la console (%s) "
                                    "n'ont pu \xEA" "tre pris (%s)", account.consoleSid.c_str(),
                                RightsWords(account, true).c_str());
  }
  return words + ", ni dans celui de l'utilisateur connect\xE9 \xE0 la console (" +
         account.consoleSid + ")";
}

// Why a run was refused, for fleet tools, the same in every language: no installation recorded
// in the registry of the account read (and of the console's user, when it is another), or the
// version text or library version that is not 2014.
std::string RefusalCause(const RunReport& run) {
  if (run.check.libraryRead) return "library: " + run.check.basis;
  if (!NothingRecorded(run)) return "version: " + run.check.basis;
  std::string cause = "no installation recorded for " + run.account.sid;
  if (run.account.console == ConsoleUserFound::kNobody) return cause + "; nobody at the console";
  if (run.account.console == ConsoleUserFound::kNoInstallation)
    return cause + " nor for the console user " + run.account.consoleSid;
  if (run.account.console == ConsoleUserFound::kNoRights) {
    const std::string why = RightsWords(run.account, false);
    return cause + base::Format("; rights of the console user %s not taken (%s)",
                                run.account.consoleSid.c_str(), why.c_str());
  }
  return cause;
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
    return base::Format("Correctif Orvane 2014.4.2 refus\xE9 : la version install\xE9" "e, "
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
  return base::Format("Correctif Orvane 2014.4.2 %s : configuration %s, copie %s, %s.", lead,
                          OutcomeForAdministrator(run.config.main).c_str(),
                          OutcomeForAdministrator(run.config.copy).c_str(), installer.c_str());
}

// A step that the watchdog cancelled, the run going on, for the administrator; empty for none.
std::string CancelledWords(const RunReport& run) {
  const char* step = os::CancelledStep();
  if (step == nullptr || run.stalledStep) return std::string();
  return base::Format(" Op\xE9ration \xAB %s \xBB sans r\xE9ponse au bout de %u s, "
                          "annul\xE9" "e.", step, os::PatienceSeconds());
}
// clang-format on

// Composes and writes the event; false when it could not be written.
bool Report(const std::string& appName, const RunReport& run) {
  const uint32_t id = EventId(run);
  std::vector<std::string> strings = {
      Sentence(id, run) + CancelledWords(run),
      appName,
      run.check.basis,
      OutcomeForTools(run.config.main),
      OutcomeForTools(run.config.copy),
      Started(run) ? ExitCodeText(run.installerExitCode) : std::string(),
  };
  if (id == kRefused) strings.push_back(RefusalCause(run));
  return os::ReportApplicationEvent(kSource, TypeOf(id), id, strings);
}

// The run's event once written: the watchdog then writes none.
std::atomic<bool> g_reported{false};
// What the main sequence has found so far, for the watchdog's event.
std::atomic<const std::string*> g_appName{nullptr};
std::atomic<const RunReport*> g_run{nullptr};

// Writes the event of a run that the watchdog ends, from what the run had found when it stopped
// moving: its own thread is held in a step since, and writes nothing more.
void ReportStalledRun(const char* lastStep, unsigned seconds) {
  if (g_reported.load()) return;
  try {
    const RunReport* tracked = g_run.load();
    RunReport run = tracked ? *tracked : RunReport();
    run.stalledStep = lastStep;
    run.stalledSeconds = seconds;
    const std::string* appName = g_appName.load();
    (void)Report(appName ? *appName : std::string(), run);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

void WatchRun() { os::WatchSteps(&ReportStalledRun); }

void TrackRun(const std::string* appName, const RunReport* run) {
  g_appName.store(appName);
  g_run.store(run);
}

void ReportRun(const std::string& appName, const RunReport& run) {
  // Out of memory while the event is composed, or the event not written: once more, as memory
  // is often back by then, and a call that the watchdog cancelled may go through; the event is
  // written by the system's one call, after every allocation. Fleet tools learn of an event
  // lost even so by its absence; the run itself goes on unchanged.
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (Report(appName, run)) {
        g_reported.store(true);
        return;
      }
    } catch (const std::bad_alloc&) {
    }
  }
}
