#include "app/core/WindowTexts.h"

#include <array>

namespace {

using enum TWindowControl;

constexpr std::array kWindowTexts{
    TWindowText{Caption, kTextWaitForCamera, false},
    TWindowText{Caption, kTextFetchingPhotos, false},
    TWindowText{Caption, kTextTransferEnded, false},

    TWindowText{TrayHint, kTextWaitForCameraDesign, false},
    TWindowText{TrayHint, kTextWaitForCamera, false},
    TWindowText{TrayHint, kTextFetchingPhotos, false},
    TWindowText{TrayHint, kTextPhotosTransferred, false},
    TWindowText{TrayHint, kTextTransferFaults, false},

    TWindowText{Label1, kTextNoDevice, false},
    TWindowText{Label1, kTextNoCamera, false},
    TWindowText{Label1, kTextPhotosFound, true},
    TWindowText{Label1, kTextPhotosCopied, true},
    TWindowText{Label1, kTextTransferEnded, false},
    TWindowText{Label1, kTextNoNewPhotos, false},
    TWindowText{Label1, kTextTransferEndedWithFaults, false},
    TWindowText{Label1, kTextWaitForPhotos, false},

    TWindowText{StatusPanel1, "", false},
    TWindowText{StatusPanel1, kTextNoCamera, false},
    TWindowText{StatusPanel1, kTextPhotosFound, true},
    TWindowText{StatusPanel1, kTextPhotosCopied, true},
    TWindowText{StatusPanel1, kTextPhotosNotTransferred, true},

    TWindowText{StatusPanel2, "", false},
    TWindowText{StatusPanel2, kTextPhotosTurned, true},
    TWindowText{StatusPanel2, kTextPhotosNotTurned, true},
    TWindowText{StatusPanel2, kTextTurnedAnd, true, kTextAndNotTurned},

    TWindowText{CheckBox1, kTextTurnIfPossible, false},
    TWindowText{CheckBox1, kTextTurning, false},
    TWindowText{CheckBox1, kTextNoAutoTurn, false},

    TWindowText{RadioButton1, kTextCopyPhotos, false},
    TWindowText{RadioButton2, kTextMovePhotos, false},
    TWindowText{Button1, kTextCloseWindowButton, false},
    TWindowText{Button2, kTextCopyPhotos, false},

    TWindowText{MenuItem, kTextOpenWindowItem, false},
    TWindowText{MenuItem, kTextCloseWindowItem, false},
    TWindowText{MenuItem, kTextQuitItem, false},
};

} // namespace

std::span<const TWindowText> WindowTexts()
{
    return kWindowTexts;
}
