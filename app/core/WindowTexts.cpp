#include "app/core/WindowTexts.h"

#include <array>

namespace {

using enum TWindowControl;

constexpr std::array kWindowTexts{
    TWindowText{Caption, kTextWaitForCamera, false},
    TWindowText{Caption, kTextFetchingPhotos, false, nullptr, true},
    TWindowText{Caption, kTextTransferEnded, false},
    TWindowText{Caption, kTextCardMayBeFormatted, false},
    TWindowText{Caption, kTextFilesStayOnCard, true},

    TWindowText{TrayHint, kTextWaitForCameraDesign, false},
    TWindowText{TrayHint, kTextWaitForCamera, false},
    TWindowText{TrayHint, kTextFetchingPhotos, false, nullptr, true},
    TWindowText{TrayHint, kTextPhotosTransferred, false},
    TWindowText{TrayHint, kTextTransferFaults, false},

    TWindowText{Message, kTextNoDevice, false},
    TWindowText{Message, kTextNoCamera, false},
    TWindowText{Message, kTextPhotosFound, true},
    TWindowText{Message, kTextPhotosCopied, true},
    TWindowText{Message, kTextTransferEnded, false},
    TWindowText{Message, kTextNoNewPhotos, false},
    TWindowText{Message, kTextTransferEndedWithFaults, false},
    TWindowText{Message, kTextWaitForPhotos, false},

    TWindowText{Panel1, "", false},
    TWindowText{Panel1, kTextNoCamera, false},
    TWindowText{Panel1, kTextPhotosFound, true},
    TWindowText{Panel1, kTextPhotosCopied, true},
    TWindowText{Panel1, kTextPhotosNotTransferred, true},

    TWindowText{Panel2, "", false},
    TWindowText{Panel2, kTextPhotosTurned, true},
    TWindowText{Panel2, kTextPhotosNotTurned, true},
    TWindowText{Panel2, kTextTurnedAnd, true, kTextAndNotTurned},

    TWindowText{TurnOption, kTextTurnIfPossible, false},
    TWindowText{TurnOption, kTextTurning, false},
    TWindowText{TurnOption, kTextNoAutoTurn, false},

    TWindowText{CopyOption, kTextCopyPhotos, false},
    TWindowText{MoveOption, kTextMovePhotos, false},
    TWindowText{DismissCommand, kTextCloseWindowButton, false},
    TWindowText{TransferCommand, kTextCopyPhotos, false},

    TWindowText{MenuCommand, kTextOpenWindowItem, false},
    TWindowText{MenuCommand, kTextCloseWindowItem, false},
    TWindowText{MenuCommand, kTextShowPhotosItem, false},
    TWindowText{MenuCommand, kTextShowLogItem, false},
    TWindowText{MenuCommand, kTextQuitItem, false},

    TWindowText{NotificationTitle, kTextCameraFound, false},
    TWindowText{NotificationText, kTextPhotosFound, true},
};

} // namespace

std::span<const TWindowText> WindowTexts()
{
    return kWindowTexts;
}
