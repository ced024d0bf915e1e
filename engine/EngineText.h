// Texts that the scan engine shows, one column per LanguageIndex, each in
// its language's ANSI code page.
#pragma once

// Indexed by outcome * 4 + language.
extern const char* const StatusWords[12];
// Three %d fields: files, infected, not removed.
extern const char* const SummaryFormat[4];
extern const char* const SummaryCaption[4];
extern const char DetectionName[];
// Lines added to the summary after its counts. The first is also shown on
// the status line when the memory pass could not run.
extern const char* const NoPsapiNote[4];
extern const char* const RunAsAdministratorNote[4];
// One %d field: the files of a worm's size that could not be read.
extern const char* const NotExaminedNote[4];
// One %c field: the letter of a mapped drive whose share an elevated scan
// could not reach.
extern const char* const UnreachableShareNote[4];
// Elevated, the scan could not tell who is signed in: that user's mapped
// drives were not walked.
extern const char* const UserDrivesUnknownNote[4];

// The code-page units that hold the non-ASCII columns.
extern const char KillFailedZhCn[];
extern const char DeletedZhCn[];
extern const char DelayDeleteZhCn[];
extern const char SummaryFormatZhCn[];
extern const char SummaryCaptionZhCn[];
extern const char NoPsapiNoteZhCn[];
extern const char RunAsAdministratorNoteZhCn[];
extern const char NotExaminedNoteZhCn[];
extern const char NotExaminedNoteZhTw[];
extern const char NotExaminedNoteJa[];
extern const char NoPsapiNoteZhTw[];
extern const char RunAsAdministratorNoteZhTw[];
extern const char NoPsapiNoteJa[];
extern const char RunAsAdministratorNoteJa[];
extern const char UnreachableShareNoteZhCn[];
extern const char UnreachableShareNoteZhTw[];
extern const char UnreachableShareNoteJa[];
extern const char UserDrivesUnknownNoteZhCn[];
extern const char UserDrivesUnknownNoteZhTw[];
extern const char UserDrivesUnknownNoteJa[];
