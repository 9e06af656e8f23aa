#pragma once

namespace framix {

// How a file's video is read. Every reader of one file (the random-access source, the
// sequential decoder, the background check of the index) takes the same options, so that
// they number and draw the same pictures.
struct SourceOptions
{
    // The colour matrix for pictures whose stream does not name one.
    enum class Matrix
    {
        Auto,  // BT.709 for HD pictures (1280 wide or more, or more than 576 lines), else BT.601
        Bt601, // standard definition
        Bt709, // high definition
    };

    // The container's index of the video stream to read; -1 takes the default one: the
    // stream the container marks as the default, else the lowest-numbered, never a cover
    // picture.
    int stream = -1;
    // Turn and mirror the picture as the container's display matrix asks (a phone's portrait
    // video, stored sideways), as players and ffmpeg do; off keeps the stored orientation.
    bool autorotate = true;
    Matrix matrix = Matrix::Auto;
    // Deinterlace pictures the decoder flags as interlaced, as ffmpeg's
    // `bwdif=mode=send_frame:parity=auto:deint=interlaced` does (one picture per picture);
    // progressive pictures are handed out as decoded. The frames are numbered the same
    // either way, so the frame index does not depend on it.
    bool deinterlace = false;

    bool operator==(const SourceOptions&) const = default;
};

} // namespace framix
