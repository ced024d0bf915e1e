// Which roots the disk pass walks: the drive letters, the user's mapped
// shares, and volumes mounted in folders; USB volumes are left out.
#pragma once

#include "Handle.h"
#include "RuntimeApi.h"

#include <windows.h>

#include "Strings.h"

// True when the volume of the drive letter reports the USB storage bus.
bool IsUsbVolume(char letter);

// What a drive letter leads the disk pass to.
struct DriveRoot {
    // Unread: a mapping of the signed-in user's that could not be read.
    enum Kind { Letter, Share, Nothing, Unread } kind;
    // The share, \\server\share, where kind is Share.
    const WString* share;
};

class DriveList {
public:
    // api is the scan's table, which outlives this.
    explicit DriveList(const RuntimeApi& api) : api_(api) {}
    DriveList(const DriveList&) = delete;
    DriveList& operator=(const DriveList&) = delete;

    // Learns, for the letters of the pass, which are mapped drives that
    // this process cannot see, and their shares: the signed-in user's,
    // where the scan runs elevated or as another user.
    void ListShares(char firstDrive, char lastDrive);
    // The root at the letter: the letter itself, or the share of a mapped
    // drive the process cannot see, or nothing where an earlier or visible
    // letter leads to that share.
    DriveRoot RootAt(char letter) const;
    // True when the mount point in folder is to be walked: the volume
    // mounted there is not on USB, and neither a letter of the pass nor an
    // earlier mount point leads to it.
    bool TakeMountedVolume(WString& folder, char firstDrive, char lastDrive);

    // The token the walk of a share wears: the signed-in user's own where
    // the shares are another user's; null where the scan's credentials are
    // the user's.
    HANDLE ShareToken() const { return userToken_.Get(); }
    // Elevated, the scan could not tell who is signed in (no shell runs, or
    // it refused the query): that user's mapped drives were not walked.
    bool SignedInUserUnknown() const { return userUnknown_; }

private:
    const RuntimeApi& api_;
    char firstDrive_ = 'C';
    char lastDrive_ = 'Z';
    WString shares_[26];
    bool visible_[26] = {};
    bool unread_[26] = {};
    KernelHandle userToken_;
    bool sharesNeedUser_ = false;
    bool userUnknown_ = false;
    // Volume names, \\?\Volume{...}\, each ended by a line feed: those at
    // the pass's drive letters, and those walked where they are mounted.
    static constexpr DWORD MaxVolumeName = 50;
    bool letterVolumesListed_ = false;
    WString letterVolumes_;
    WString mountedVolumes_;
};

// The calling thread wears the token while this lives (none where the
// token is null); Refused where it could not.
class UserImpersonation {
public:
    UserImpersonation(const RuntimeApi& api, HANDLE token);
    ~UserImpersonation();
    UserImpersonation(const UserImpersonation&) = delete;
    UserImpersonation& operator=(const UserImpersonation&) = delete;
    bool Refused() const { return refused_; }

private:
    const RuntimeApi& api_;
    bool wearing_ = false;
    bool refused_ = false;
};
