// Runs the Qt Test cases of the window's Qt-free parts.

#include <QCoreApplication>
#include <QTest>
#include <memory>

QObject* NewLoopSchematicTest();
QObject* NewToolkitTest();

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int status = 0;
  for (auto* make : {NewLoopSchematicTest, NewToolkitTest}) {
    const std::unique_ptr<QObject> test(make());
    status |= QTest::qExec(test.get(), argc, argv);
  }
  return status;
}
