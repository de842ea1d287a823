#pragma once

/// Prepares the picture runtime once the GUI application exists: registers the JPEG picture class for
/// "jpg" and "jpeg", and decodes to a palette only when the screen shows 256 colours or fewer.
void PreparePictureRuntime();
