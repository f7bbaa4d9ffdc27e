// Program transfer: a step program's object file to and from the controller,
// with the controller's register values in the register file beside it
// (LINE.DSO keeps its registers in LINE.txt). Started from the program
// transfer window; a transfer that ends in order closes the connection.
#pragma once

#include <QString>
#include <cstdint>

// The whole download: object file choice, the registers, the program.
void DownloadProgram();
// The whole upload: object file choice, the program, the registers.
void UploadProgram();

// The object file to download: an existing file, or empty for Cancel.
QString SelectObjectFile(QString &path);
// The object file to upload into, or empty for Cancel. An existing file is
// only replaced by a complete upload, or by an incomplete one with the
// user's word; a name ending in .txt is refused (the register file would
// overwrite it).
QString EnterObjectFile(QString &path);

// How the register download before a program download ended.
struct RegisterDownloadEnd {
    // Every write was taken (also when there was no register file, or the
    // registers were not wanted).
    bool complete = true;
    // A write (or the stop) failed for want of the link: the program is not
    // to follow as if all were well.
    bool linkLost = false;
    // What went wrong, for the program download's last box.
    QString report;
};

// Writes the register file beside the object file into the controller.
RegisterDownloadEnd DownloadRegisters(int32_t connection, const QString &objectFile);
// Reads the controller's registers into the register file beside the object
// file (the reads off the window thread); True when that file was written
// whole. Otherwise an earlier register file stays as it was.
bool UploadRegisters(int32_t connection, int16_t eaFlag, const QString &objectFile);

bool IsControllerIdentified();
// An exclamation box: prefix, "Error: " and the error text of the
// connection (ConnectionHandle unless given).
void ShowLinkError(const QString &prefix);
void ShowLinkError(const QString &prefix, int32_t connection);
// Closes the connection when there is one.
void CloseTransferLink();

// The register file of an object file: its last four characters replaced by
// ".txt"; empty when the path is too short to have them.
QString RegisterFileOf(const QString &objectFile);
// True when an object file would be its own register file (LINE.txt).
bool IsOwnRegisterFile(const QString &objectFile);
// A free name beside a file, marked with the tag: LINE.DSO and "old" give
// LINE.old.DSO (LINE.old2.DSO when that, or its register file, is taken).
QString FreeNameBeside(const QString &file, const QString &tag);
// A free name beside an object file for an incomplete upload of it:
// LINE.DSO gives LINE.partial.DSO (LINE.partial2.DSO when that is taken).
QString PartialFileOf(const QString &objectFile);
