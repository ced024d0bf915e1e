// The summary box that ends a scan: the counts, then a line for each reason
// the scan fell short. The counts are written in place: the product links
// no formatter.
#include "Summary.h"

#include "EngineText.h"
#include "Privileges.h"

#include <cstring>

namespace {

// Appends text and a line break where they fit whole.
void AppendLine(char* buffer, size_t size, const char* text)
{
    const size_t used = std::strlen(buffer);
    const size_t length = std::strlen(text);
    if (used + length + 2 > size)
        return;
    std::memcpy(buffer + used, text, length);
    buffer[used + length] = '\n';
    buffer[used + length + 1] = '\0';
}

// The format with each %d replaced by the next value in decimal and each
// %c by the next value as a character, cut to fit size.
void FormatCounts(char* buffer, size_t size, const char* format, const int* values, size_t count)
{
    size_t used = 0;
    size_t next = 0;
    for (const char* p = format; *p != '\0' && used + 1 < size; ++p) {
        if (p[0] == '%' && p[1] == 'c' && next < count) {
            buffer[used++] = static_cast<char>(values[next++]);
            ++p;
        } else if (p[0] == '%' && p[1] == 'd' && next < count) {
            const int value = values[next++];
            unsigned int rest = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
            char digits[12];
            size_t n = 0;
            do {
                digits[n++] = static_cast<char>('0' + rest % 10);
                rest /= 10;
            } while (rest != 0);
            if (value < 0)
                digits[n++] = '-';
            while (n > 0 && used + 1 < size)
                buffer[used++] = digits[--n];
            ++p;
        } else {
            buffer[used++] = *p;
        }
    }
    buffer[used] = '\0';
}

}  // namespace

void ShowSummary(HWND owner, UINT language, const ScanTally& tally, const RuntimeApi& api)
{
    // The counts, then a line for each reason the scan fell short.
    char summary[1024] = {};
    const int counts[3] = {static_cast<int>(tally.files), static_cast<int>(tally.infected),
                           static_cast<int>(tally.infected - tally.deleted)};
    FormatCounts(summary, sizeof summary, SummaryFormat[language], counts, 3);
    if (tally.memoryGap == GapNoPsapi)
        AppendLine(summary, sizeof summary, NoPsapiNote[language]);
    if (tally.removalDenied && AdministratorRights(api) == Rights::Lacking)
        AppendLine(summary, sizeof summary, RunAsAdministratorNote[language]);
    if (tally.unexamined != 0) {
        char line[320] = {};
        const int count = static_cast<int>(tally.unexamined);
        FormatCounts(line, sizeof line, NotExaminedNote[language], &count, 1);
        AppendLine(summary, sizeof summary, line);
    }
    for (size_t i = 0; i < tally.unreachableShares.size(); ++i) {
        char line[160] = {};
        const int letter = tally.unreachableShares[i];
        FormatCounts(line, sizeof line, UnreachableShareNote[language], &letter, 1);
        AppendLine(summary, sizeof summary, line);
    }
    if (tally.userDrivesUnknown)
        AppendLine(summary, sizeof summary, UserDrivesUnknownNote[language]);
    MessageBoxA(owner, summary, SummaryCaption[language], MB_OK);
}
