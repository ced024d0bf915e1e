#include "EngineText.h"

namespace {
const char KillFailed[] = "Kill Failed";
const char Deleted[] = "Deleted";
const char DelayDelete[] = "Delay Delete";
// Plain ASCII colons: any other code page would show the CP936 full-width
// colon as stray characters.
const char SummaryFormatEnglish[] = "Complete!\nFiles: %d\nInfected: %d\nKill failed: %d\n";
const char SummaryCaptionEnglish[] = "Message";
const char NoPsapiNoteEnglish[] = "Memory could not be scanned: psapi.dll is missing from the system folder.";
const char RunAsAdministratorNoteEnglish[] = "Access denied: run this program as an administrator and scan again.";
const char NotExaminedNoteEnglish[] =
    "Files of a worm's size not examined, as they could not be read: %d. Close other programs, run this program "
    "as an administrator and scan again.";
const char UnreachableShareNoteEnglish[] =
    "Network drive %c: could not be reached: scan it on the computer that holds the share.";
const char UserDrivesUnknownNoteEnglish[] =
    "The signed-in user could not be found: that user's network drives were not scanned.";
}  // namespace

const char* const StatusWords[12] = {
    KillFailedZhCn, KillFailed, KillFailed, KillFailed,
    DeletedZhCn, Deleted, Deleted, Deleted,
    DelayDeleteZhCn, DelayDelete, DelayDelete, DelayDelete,
};

const char* const SummaryFormat[4] = {
    SummaryFormatZhCn, SummaryFormatEnglish, SummaryFormatEnglish, SummaryFormatEnglish,
};

const char* const SummaryCaption[4] = {
    SummaryCaptionZhCn, SummaryCaptionEnglish, SummaryCaptionEnglish, SummaryCaptionEnglish,
};

const char DetectionName[] = "Worm.Win32.Tavok";

const char* const NoPsapiNote[4] = {
    NoPsapiNoteZhCn, NoPsapiNoteEnglish, NoPsapiNoteZhTw, NoPsapiNoteJa,
};

const char* const RunAsAdministratorNote[4] = {
    RunAsAdministratorNoteZhCn, RunAsAdministratorNoteEnglish, RunAsAdministratorNoteZhTw, RunAsAdministratorNoteJa,
};

const char* const NotExaminedNote[4] = {
    NotExaminedNoteZhCn, NotExaminedNoteEnglish, NotExaminedNoteZhTw, NotExaminedNoteJa,
};

const char* const UnreachableShareNote[4] = {
    UnreachableShareNoteZhCn, UnreachableShareNoteEnglish, UnreachableShareNoteZhTw, UnreachableShareNoteJa,
};

const char* const UserDrivesUnknownNote[4] = {
    UserDrivesUnknownNoteZhCn, UserDrivesUnknownNoteEnglish, UserDrivesUnknownNoteZhTw, UserDrivesUnknownNoteJa,
};
