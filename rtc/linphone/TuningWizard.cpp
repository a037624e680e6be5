#include "rtc/linphone/TuningWizard.h"

#include <linphone++/linphone.hh>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace rtc::lin {

namespace {

constexpr int kLevelPollMs = 100;
// The meter shows the last 60 dB below full scale.
constexpr double kMeterRangeDb = 60.0;

using Caps = linphone::AudioDevice::Capabilities;

QString label(const std::shared_ptr<linphone::AudioDevice>& device) {
    return QStringLiteral("%1 (%2)").arg(QString::fromStdString(device->getDeviceName()),
                                         QString::fromStdString(device->getDriverName()));
}

void fill(QComboBox* combo, const std::vector<std::shared_ptr<linphone::AudioDevice>>& devices,
          const std::shared_ptr<const linphone::AudioDevice>& current) {
    for (const auto& device : devices) {
        combo->addItem(label(device), QString::fromStdString(device->getId()));
        if (current && current->getId() == device->getId())
            combo->setCurrentIndex(combo->count() - 1);
    }
}

} // namespace

TuningWizard::TuningWizard(std::shared_ptr<linphone::Core> core, QString soundDir, QString workDir,
                           QWidget* parent)
    : QDialog(parent), core_(std::move(core)), testSound_(soundDir + QStringLiteral("/ring.wav")),
      scratchFile_(workDir + QStringLiteral("/tuning-level.wav")) {
    setObjectName(QStringLiteral("tuningWizard"));
    setWindowTitle(tr("Audio Tuning"));
    setModal(true);

    for (const auto& device : core_->getExtendedAudioDevices()) {
        if (device->hasCapability(Caps::CapabilityRecord))
            captureDevices_.push_back(device);
        if (device->hasCapability(Caps::CapabilityPlay))
            playbackDevices_.push_back(device);
    }

    capture_ = new QComboBox(this);
    capture_->setObjectName(QStringLiteral("captureDeviceCombo"));
    fill(capture_, captureDevices_, core_->getDefaultInputAudioDevice());
    playback_ = new QComboBox(this);
    playback_->setObjectName(QStringLiteral("playbackDeviceCombo"));
    fill(playback_, playbackDevices_, core_->getDefaultOutputAudioDevice());

    level_ = new QProgressBar(this);
    level_->setObjectName(QStringLiteral("microphoneLevel"));
    level_->setRange(0, 100);
    level_->setValue(0);
    level_->setTextVisible(false);

    testButton_ = new QPushButton(tr("Play test sound"), this);
    testButton_->setObjectName(QStringLiteral("playTestSoundButton"));
    testButton_->setEnabled(QFileInfo(testSound_).isFile() && !playbackDevices_.empty());

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttonBox"));

    auto* form = new QFormLayout;
    form->addRow(tr("Microphone:"), capture_);
    form->addRow(tr("Level:"), level_);
    form->addRow(tr("Speaker:"), playback_);
    form->addRow(QString(), testButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Choose the devices for your calls, speak to check the microphone "
                                    "and play the test sound to check the speaker."),
                                 this));
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(capture_, &QComboBox::currentIndexChanged, this, [this] { startLevelMeter(); });
    connect(testButton_, &QPushButton::clicked, this, [this] { playTestSound(); });
    connect(&levelTimer_, &QTimer::timeout, this, [this] { updateLevel(); });

    startLevelMeter();
}

TuningWizard::~TuningWizard() {
    stopLevelMeter();
    if (player_)
        player_->close();
}

std::shared_ptr<linphone::AudioDevice>
TuningWizard::chosen(const QComboBox* combo,
                     const std::vector<std::shared_ptr<linphone::AudioDevice>>& list) const {
    const int i = combo->currentIndex();
    return i >= 0 && i < static_cast<int>(list.size()) ? list[static_cast<std::size_t>(i)] : nullptr;
}

void TuningWizard::startLevelMeter() {
    stopLevelMeter();
    auto device = chosen(capture_, captureDevices_);
    if (!device)
        return;
    // The meter reads the level of a throw-away recording from the chosen device.
    auto params = core_->createRecorderParams();
    params->setAudioDevice(device);
    params->setFileFormat(linphone::RecorderFileFormat::Wav);
    recorder_ = core_->createRecorder(params);
    if (!recorder_)
        return;
    QFile::remove(scratchFile_);
    if (recorder_->open(scratchFile_.toStdString()) != 0 || recorder_->start() != 0) {
        recorder_->close();
        recorder_.reset();
        return;
    }
    levelTimer_.start(kLevelPollMs);
}

void TuningWizard::stopLevelMeter() {
    levelTimer_.stop();
    if (recorder_) {
        recorder_->close();
        recorder_.reset();
    }
    QFile::remove(scratchFile_);
    if (level_)
        level_->setValue(0);
}

void TuningWizard::updateLevel() {
    if (!recorder_)
        return;
    const float linear = recorder_->getCaptureVolume();
    const double db = linear > 0 ? 20.0 * std::log10(linear) : -kMeterRangeDb;
    level_->setValue(static_cast<int>(std::clamp((db + kMeterRangeDb) * 100.0 / kMeterRangeDb, 0.0, 100.0)));
}

void TuningWizard::playTestSound() {
    auto device = chosen(playback_, playbackDevices_);
    if (!device)
        return;
    if (player_)
        player_->close();
    player_ = core_->createLocalPlayer(device->getId(), "", nullptr);
    if (player_ && player_->open(testSound_.toStdString()) == 0)
        player_->start();
}

void TuningWizard::accept() {
    if (auto input = chosen(capture_, captureDevices_)) {
        core_->setDefaultInputAudioDevice(input);
        core_->setInputAudioDevice(input);
    }
    if (auto output = chosen(playback_, playbackDevices_)) {
        core_->setDefaultOutputAudioDevice(output);
        core_->setOutputAudioDevice(output);
    }
    QDialog::accept();
}

void TuningWizard::done(int result) {
    // The capture device is released as soon as the dialog closes, not when it is destroyed.
    stopLevelMeter();
    if (player_) {
        player_->close();
        player_.reset();
    }
    QDialog::done(result);
}

} // namespace rtc::lin
