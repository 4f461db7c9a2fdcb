// A full disk for tests: a small tmpfs mounted on a folder for the length of
// a test and filled up to a few bytes. Mounting needs root (or the
// capability to mount); where it cannot be had, mounted() is false and the
// test skips that case.
#pragma once

#include <QString>

class SmallDisk {
  public:
    SmallDisk(const QString& folder, int kilobytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    // Fills it with the file "filler", leaving about `bytes` free.
    bool fill(qint64 bytes);

  private:
    QString folder_;
    bool mounted_ = false;
};
