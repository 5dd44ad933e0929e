/* brevlo: converts a GIF image file into an 8-bit palettised Windows BMP file.
 *
 * The whole public surface: two functions and their result codes, and on Linux
 * a third that converts as broadly as the brevlo command and a fourth that
 * writes every frame of an animation. Every call is synchronous and complete
 * when it returns; conversions on different threads do not disturb each
 * other. */
#ifndef BREVLO_H
#define BREVLO_H

#include <stdint.h>

/* Calling convention of the two exported functions: __stdcall (WINAPI) for the
 * 32-bit Windows DLL, the platform default elsewhere. */
#if defined(_WIN32)
#define BREVLO_CALL __stdcall
#else
#define BREVLO_CALL
#endif

/* Marks the two functions as exported when the library itself is built. */
#if defined(BREVLO_BUILDING_LIBRARY) && !defined(_WIN32)
#define BREVLO_API __attribute__((visibility("default")))
#else
#define BREVLO_API
#endif

/* Result codes of BREVLO32. */
#define BREVLO_SUCCESS 0      /* the BMP file was written */
#define ERR_OPEN_FAILED 30001 /* cannot open, create, position, write or close a file */
#define ERR_NO_MEMORY 30003   /* the decoder cannot obtain its working memory */
#define ERR_BAD_GIF 30004     /* not a GIF signature, no image, or corrupt image data */
#define ERR_UNSUPPORTED 30008 /* no 256-entry global colour table, or an interlaced image */
#define ERR_EMPTY_NAME 30010  /* a path is empty or null */
#define ERR_EARLY_END 30011   /* the file ended before the GIF trailer */

#ifdef __cplusplus
extern "C" {
#endif

/* Converts the GIF file at gifPath into the BMP file at bmpPath (both
 * NUL-terminated 8-bit paths) and returns one of the result codes above.
 *
 * An existing file at bmpPath is replaced: it is emptied once it is known not
 * to be the input, before the GIF is read, and removed if the conversion then
 * fails, even when the input is missing. Through a symbolic link the file the
 * link leads to is written; after a failure that file is left empty and the
 * link stays: a symbolic link, and the file it leads to, are never removed.
 *
 * Both files must be able to be positioned: a pipe, FIFO or socket at either
 * end gives 30001, and the call never waits for the other end of one. A write
 * error that the system reports only when the BMP is closed gives 30001 too.
 *
 * A BMP larger than the process may write (a file-size limit) gives 30001
 * before anything is written.
 *
 * After a nonzero result no file holds bytes the call wrote (a file with
 * another hard link keeps that name, emptied), and nothing is left at bmpPath
 * except in these cases, where what was there stays:
 *   - 30010: nothing was opened or created;
 *   - 30001 because bmpPath leads to the input file itself (decided on the
 *     two open files, so a link put there during the call is refused too);
 *   - bmpPath is a symbolic link: the link stays, and the file it leads to
 *     stays, empty;
 *   - 30001 because bmpPath could not be created or opened for writing (a
 *     folder, a read-only file, a FIFO with no reader);
 *   - bmpPath is a device or a FIFO: it may have been written to, and is
 *     never removed;
 *   - another program put a different file at bmpPath during the call;
 *   - the system refused to remove the output: it is left empty. */
BREVLO_API int32_t BREVLO_CALL BREVLO32(const char* gifPath, const char* bmpPath);

/* Copies the one-line information text into buffer. When the text's length L is
 * greater than size (or buffer is null), returns L and writes nothing. Otherwise
 * fills size bytes with spaces, copies the L characters to the start (no
 * terminating NUL) and returns 0. */
BREVLO_API int32_t BREVLO_CALL BREVLOInfo(char* buffer, int32_t size);

#if !defined(_WIN32)
/* Flags of brevlo_convert. */
#define BREVLO_STRICT 0x1u /* accept exactly what BREVLO32 accepts */

/* Converts as BREVLO32 does, with the same result codes and the same handling
 * of both files, but accepting every ordinary GIF, as the brevlo command does
 * by default: colour tables of 2 to 256 entries, global or local (the palette
 * keeps 256 entries, black past the table), a local table without a global
 * one, interlaced images, and a file that ends, or holds a 0 byte, where its
 * trailer belongs after the first image was converted. With BREVLO_STRICT in
 * flags it is BREVLO32 exactly. Other flag bits are reserved: pass 0.
 * Linux only: the Windows DLLs export BREVLO32 and BREVLOInfo alone. */
BREVLO_API int32_t brevlo_convert(const char* gif_path, const char* bmp_path, uint32_t flags);

/* Writes every frame of the GIF at gif_path, composed as viewers show it, into
 * its own BMP file: bmp_prefix followed by "-001.bmp", "-002.bmp", ... (three
 * digits at least, more only past 999: frame 1000 is "-1000.bmp"). Returns one
 * of the result codes above and sets *frames_written (when not null) to the
 * number of frame files written.
 *
 * Each frame is the whole logical screen (the screen descriptor's size, or the
 * first image's when either is 0). The canvas starts as the background: the
 * global colour table's colour at the background index (black past the
 * table), or black without a global table. Each image is drawn at its offset,
 * clipped to the screen; pixels equal to its transparent index, and rows its
 * data never reaches, leave what is below. After a frame, disposal 2 restores
 * the image's rectangle to the background, 3 to what was there before; 0, 1
 * and 4 to 7 keep it. An image without a graphic control extension is opaque
 * and kept. Indices past a table are black.
 *
 * A frame whose every pixel comes from the global colour table is written as
 * BREVLO32 writes a still image: 8 bits, the global table as palette, the
 * indices as pixels. Any other frame of at most 256 colours is 8-bit with a
 * palette of its own colours in ascending order of (red, green, blue), black
 * past them; a frame of more colours is 24-bit. Never dithered or quantised.
 *
 * Each frame file is written as soon as its frame is complete, as BREVLO32
 * writes its output: opened without truncating it, refused (30001) when it
 * is the input, emptied, written, and after a failure emptied and removed
 * only when the name is the file written. A file for a frame never reached is
 * not opened. A file cut short, or with corrupt image data, inside frame
 * k > 1 keeps the files of frames 1 to k - 1, each whole, writes none for
 * frame k or later, and returns the code of the damage (30004, or 30011 when
 * the file ends inside an image's header); the same holds for a frame file
 * that cannot be written (30001). A file that lacks only its trailer gives
 * all its frames and 0. Damage in the first image fails as brevlo_convert
 * does, and writes nothing. A screen of more than 268435456 pixels (a canvas
 * of 1 GiB) gives 30003 before anything is written. Files of a prefix left
 * from an earlier, longer animation past the last frame are not touched.
 *
 * With BREVLO_STRICT in flags every image must pass BREVLO32's rules (a
 * 256-entry global colour table, no interlaced image, the end code), and the
 * trailer must be there: a file without it gives 30011 after writing all its
 * frames. Other flag bits are reserved: pass 0. Linux only. */
BREVLO_API int32_t brevlo_convert_frames(const char* gif_path, const char* bmp_prefix,
                                         uint32_t flags, uint32_t* frames_written);
#endif

#ifdef __cplusplus
}
#endif

#endif /* BREVLO_H */
