#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class DcLibrary;

// Writes a firmware image into the attached mouse through its loader: restart into the
// loader, wait for it, erase, write 2000-byte blocks, verify, start the new firmware. A mouse
// whose write was cut off stays in its loader; the image is written again from there.
class FirmwareUpdater {
  public:
    // The loader's library identifier.
    static const QString bootloaderId;
    // The image file's capacity: the layout ends at byte 66 125.
    static constexpr int kImageBufferSize = 67170;
    static constexpr int kImageOffset = 264;
    static constexpr int kSizeOffset = 66113;
    static constexpr int kCheckOffset = 66121;
    static constexpr int kBlockSize = 2000;

    // The loader calls of the device library, as the updater uses them.
    class Loader {
      public:
        virtual ~Loader() = default;
        virtual bool deviceExist(const QString& id) = 0;
        virtual bool canReboot() = 0;  // the library also offers its reboot call
        virtual void reset(const QString& deviceId) = 0;
        virtual void eraseRom() = 0;
        virtual bool bornRom(const quint8* block, int length, int offset) = 0;
        virtual bool checkRom(int size, quint32 check) = 0;
        virtual void finishUpdateRom() = 0;
    };

    // `wait` lets events run for the given milliseconds; `status` shows a text to the user.
    FirmwareUpdater(Loader& loader, std::function<void(int milliseconds)> wait,
                    std::function<void(const QString& text)> status);

    // Updates the device `deviceId` from the image file `imagePath`.
    void updateFirmware(const QString& deviceId, const QString& imagePath);
    // Writes the image file `imagePath` into a mouse that is in its loader already: the loader
    // is looked for at once, then for up to 9 s more; erase, write, verify and start follow.
    void rewriteFirmware(const QString& imagePath);

    bool loadFirmwareImage(const QString& imagePath);
    bool writeFirmwareBlocks();

    // The bytes of the file at `imagePath` when it is an image file this updater writes;
    // empty otherwise.
    static QByteArray readImageFile(const QString& imagePath);
    // Whether a write runs in this process, from its first device call to its last: the
    // mouse's loader showing up meanwhile is part of it.
    static bool writing();

    // The image file for `image` with its size and check value (for publishers and tests);
    // empty when the image does not fit.
    static QByteArray makeImageFile(const QByteArray& image, quint32 check);

  private:
    // From waiting for the loader to starting the new firmware; the first wait may be 0.
    void writeFromLoader(int firstWaitMs);
    quint64 imageSize() const;

    Loader& loader_;
    std::function<void(int)> wait_;
    std::function<void(const QString&)> status_;
    QByteArray image_;
};

// The loader calls through the device library.
class LibraryLoader : public FirmwareUpdater::Loader {
  public:
    explicit LibraryLoader(const DcLibrary& library) : library_(library) {}
    bool deviceExist(const QString& id) override;
    bool canReboot() override;
    void reset(const QString& deviceId) override;
    void eraseRom() override;
    bool bornRom(const quint8* block, int length, int offset) override;
    bool checkRom(int size, quint32 check) override;
    void finishUpdateRom() override;

  private:
    const DcLibrary& library_;
};

// Lets events run for `milliseconds`, at most 100 ms at a time.
void waitWithEvents(int milliseconds);
