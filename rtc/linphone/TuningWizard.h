// The audio tuning dialog: choose the capture and playback devices, watch the microphone's
// level, play a test sound. OK applies the chosen devices to the core; Cancel leaves them.
#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QComboBox;
class QProgressBar;
class QPushButton;

namespace linphone {
class AudioDevice;
class Core;
class Player;
class Recorder;
} // namespace linphone

namespace rtc::lin {

class TuningWizard : public QDialog {
    Q_OBJECT
public:
    // `soundDir` holds the test sound (ring.wav); `workDir` takes the level meter's scratch
    // recording.
    TuningWizard(std::shared_ptr<linphone::Core> core, QString soundDir, QString workDir,
                 QWidget* parent = nullptr);
    ~TuningWizard() override;

    void accept() override;
    void done(int result) override;

private:
    void startLevelMeter();
    void stopLevelMeter();
    void updateLevel();
    void playTestSound();
    std::shared_ptr<linphone::AudioDevice>
    chosen(const QComboBox* combo, const std::vector<std::shared_ptr<linphone::AudioDevice>>& list) const;

    std::shared_ptr<linphone::Core> core_;
    QString testSound_;
    QString scratchFile_;
    std::vector<std::shared_ptr<linphone::AudioDevice>> captureDevices_;
    std::vector<std::shared_ptr<linphone::AudioDevice>> playbackDevices_;
    QComboBox* capture_ = nullptr;
    QComboBox* playback_ = nullptr;
    QProgressBar* level_ = nullptr;
    QPushButton* testButton_ = nullptr;
    QTimer levelTimer_;
    std::shared_ptr<linphone::Recorder> recorder_;
    std::shared_ptr<linphone::Player> player_;
};

} // namespace rtc::lin
