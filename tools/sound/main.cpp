// SoundPlayer FILE: plays FILE at half volume and ends when it has played or cannot play.

#include <QCoreApplication>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>

namespace {

// A sound the player neither finishes nor fails within this is given up.
constexpr int kLongestSoundMs = 30000;

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 2)
        return 2;
    QMediaPlayer player;
    player.setVolume(50);
    QObject::connect(&player, &QMediaPlayer::stateChanged, &app, [](QMediaPlayer::State state) {
        if (state == QMediaPlayer::StoppedState)
            QCoreApplication::exit(0);
    });
    QObject::connect(&player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), &app,
                     [] { QCoreApplication::exit(1); });
    player.setMedia(QUrl::fromLocalFile(arguments.at(1)));
    player.play();
    // Without a decoder or an output the player stays stopped and says nothing more.
    if (player.state() != QMediaPlayer::PlayingState)
        return 1;
    QTimer::singleShot(kLongestSoundMs, &app, [] { QCoreApplication::exit(1); });
    return app.exec();
}
