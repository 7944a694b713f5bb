// Time of the Mode page's read-all against indicator-sim pacing the line as a real one would,
// next to the floor that the characters on the wire alone take.
//
// Usage: indicator-modepage-bench [N]   (N read-alls at each baud rate; 5)
#include "catalogue.h"
#include "modepage.h"
#include "readallbench.h"
#include "resultcodes.h"
#include "session.h"

#include <QApplication>

#include <memory>

namespace {

// The page reads every setting of the catalogue's, once each.
QList<const Catalogue::Parameter *> pageParameters()
{
    QList<const Catalogue::Parameter *> settings;
    for (const Catalogue::Parameter &parameter : Catalogue::parameters()) {
        if (parameter.role == Catalogue::Role::Setting)
            settings.append(&parameter);
    }
    return settings;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // One page and one watch of the outcomes per connection, made before the clock starts.
    std::unique_ptr<ModePage> page;
    auto failed = std::make_shared<bool>(false);
    return ReadAllBench::run(argc, argv, pageParameters(), [&page, failed](Session &session) {
        page = std::make_unique<ModePage>(session, nullptr);
        QObject::connect(&session, &Session::outcome, [failed](qint16 code) { *failed = *failed || code < lrOk; });
        return [&page, failed] {
            *failed = false;
            page->ModeAllRd();
            return !*failed;
        };
    });
}
