// The demonstration texts: line layout, fixed lines at their places, and that
// every character survives the GBK code page the console sends in.
#include "common/system_code_pages.h"
#include "demo/demo_texts.h"

#include <QRegularExpression>
#include <QTest>

using namespace qav::demo;

namespace {

const QString kBreak = QStringLiteral("\r\n");

// Lines as the send text area shows them; a final CR LF is not a line of its own.
QStringList linesOf(const QString& text) {
    QString body = text;
    if (body.endsWith(kBreak))
        body.chop(2);
    return body.split(kBreak);
}

QString ruler(const QString& title) {
    return QString(26, u'-') + QStringLiteral("  ") + title + u' ' + QString(26, u'-');
}

} // namespace

class TstDemoTexts : public QObject {
    Q_OBJECT
private slots:
    void lineCountsAndFinalBreak_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines");
        QTest::addColumn<bool>("finalBreak");
        QTest::newRow("english-chinese") << englishChineseDemoText() << 113 << true;
        QTest::newRow("chinese") << chineseDemoText() << 158 << false;
        QTest::newRow("catalogue") << promptSoundCatalogue() << 29 << true;
    }
    void lineCountsAndFinalBreak() {
        QFETCH(QString, text);
        QFETCH(int, lines);
        QFETCH(bool, finalBreak);
        QCOMPARE(linesOf(text).size(), lines);
        QCOMPARE(text.endsWith(kBreak), finalBreak);
        // Every line break is a CR LF pair, nothing else.
        QCOMPARE(text.count(u'\r'), text.count(kBreak));
        QCOMPARE(text.count(u'\n'), text.count(kBreak));
        // The chip receives the text in GBK: nothing may be lost on the way.
        const QByteArray gbk = qav::test::systemGbk(text);
        QVERIFY(!gbk.isEmpty());
        QVERIFY(!gbk.contains('?'));
    }

    void englishChineseLayout() {
        const QStringList l = linesOf(englishChineseDemoText());
        QCOMPARE(l[0], QStringLiteral("Hello, this is the demo for QAV7120 TTS chip. "));
        QCOMPARE(l[1], QStringLiteral("你好，这里是QAV7120语音合成芯片的演示。"));
        QCOMPARE(l[2], QString());
        QCOMPARE(l[3], ruler(QStringLiteral("行业文本演示")));
        QCOMPARE(l[4], QString());
        QCOMPARE(l[5], QStringLiteral("【公交智能报站】"));
        QCOMPARE(
            l[12],
            QStringLiteral(
                "  Arrived at the destination, please get off from the right side of the door"));
        QCOMPARE(l[13], QStringLiteral("  已到达目的地，请从门的右侧下车"));
        QCOMPARE(l[16], QStringLiteral(
                            "  Beijing：Tonight to tomorrow ，Cloudy with showers to 19 ℃ ~ 12 ℃"));
        QCOMPARE(l[28], QStringLiteral("  in 1.6 kilometers."));
        QCOMPARE(l[31], QStringLiteral("【遥控器】"));
        QCOMPARE(l[41], QStringLiteral("  恢复出厂设置"));
        QCOMPARE(l[43], ruler(QStringLiteral("控制标记演示")));
        QCOMPARE(l[45], QStringLiteral("【[g*]语种设置】"));
        QVERIFY(l[46].startsWith(QStringLiteral("  默认自动判断，如：[g0]")));
        QVERIFY(l[46].endsWith(QStringLiteral("[g0]")));
        QCOMPARE(l[69], QStringLiteral(
                            "  please get off [p300] from the right side [p300] of the door. "));
        QCOMPARE(l[70], QStringLiteral("  请从门的右侧下车，请从[p300]门的右侧[p300]下车 "));
        QCOMPARE(l[90], QStringLiteral("【[t*]:语调调节】"));
        QCOMPARE(l[101],
                 QStringLiteral("  [b*]:读标点开关。 欢迎光临，请进！。[b1]欢迎光临，请进！[d]"));
        QCOMPARE(l[103], ruler(QStringLiteral("中英混读演示")));
        QCOMPARE(l[105], QStringLiteral("欢迎使用TonariaTTS语音合成系统。"));

        // Content of the first two parts is indented by two blanks, titles and
        // rulers are flush left; the third part has no indentation at all.
        for (int i = 5; i < 103; ++i) {
            const QString& line = l[i];
            if (line.isEmpty() || line.startsWith(u'【') || line.startsWith(u'-'))
                continue;
            QVERIFY2(line.startsWith(QStringLiteral("  ")) && line[2] != u' ', qPrintable(line));
        }
        for (int i = 105; i < 113; ++i)
            QVERIFY2(!l[i].isEmpty() && !l[i].startsWith(u' '), qPrintable(l[i]));
    }

    void englishChineseInventedLines() {
        const QStringList l = linesOf(englishChineseDemoText());
        // Telephone numbers: eleven digits after "call ", eight in the [n*] lines,
        // the same number twice.
        QRegularExpression mobile(QStringLiteral("call (\\d+)\\[d\\]\\.$"));
        for (int i : {51, 52}) {
            const auto m = mobile.match(l[i]);
            QVERIFY2(m.hasMatch(), qPrintable(l[i]));
            QCOMPARE(m.captured(1).size(), 11);
        }
        QRegularExpression fixedLine(QStringLiteral("如(\\d{8}), call (\\d{8})\\[d\\]$"));
        for (int i : {63, 64, 65}) {
            const auto m = fixedLine.match(l[i]);
            QVERIFY2(m.hasMatch(), qPrintable(l[i]));
            QCOMPARE(m.captured(1), m.captured(2));
        }
    }

    void chineseLayout() {
        const QStringList l = linesOf(chineseDemoText());
        QCOMPARE(l[0], QStringLiteral("欢迎观看语音合成系统的演示！"));
        QCOMPARE(l[2], QStringLiteral("【多音字演示】"));
        QCOMPARE(l[4],
                 QStringLiteral(
                     "    当前工作的重中之重，是要在重重困难中，保证重庆市的重点工程的顺利进行！"));
        QCOMPARE(l[9], QStringLiteral("【智能数字符号处理】"));
        QCOMPARE(l[40], QStringLiteral("    [v1]这是音量最小的效果。[d]"));
        QCOMPARE(l[67], QStringLiteral("【发音人演示】"));
        QRegularExpression speaker(QStringLiteral("^    \\[m(\\d+)\\]我是.+；\\[m3\\]\\[d\\]$"));
        const QStringList tags = {"3", "51", "52", "53", "54", "55"};
        for (int i = 0; i < 6; ++i) {
            const auto m = speaker.match(l[69 + i]);
            QVERIFY2(m.hasMatch(), qPrintable(l[69 + i]));
            QCOMPARE(m.captured(1), tags[i]);
        }
        QCOMPARE(l[76], QStringLiteral("【其它控制标记演示】"));
        QCOMPARE(l[78], QStringLiteral("    [i*]强制读拼音。"));
        QCOMPARE(l[80], QString());
        QCOMPARE(l[99], QStringLiteral("    [=*]强制拼音。"));
        QCOMPARE(l[100], QStringLiteral("    银行行长。银行行[=xing2]长[=chang2]。"));
        QCOMPARE(l[105], QStringLiteral("    [d] 恢复默认。"));
        QCOMPARE(l[108], QStringLiteral("【英文字母混读】"));
        QCOMPARE(l[115], QStringLiteral("【行业应用】"));
        QVERIFY(!l[127].isEmpty());
        for (int i = 128; i < 133; ++i)
            QVERIFY(l[i].isEmpty());
        QCOMPARE(l[133], QStringLiteral("【短信等乱序接收后的正常播报】 -- 此功能为特殊应用"));

        // Twelve numbered pieces, flush left, an empty line between each two.
        for (int k = 1; k <= 12; ++k) {
            const QString& piece = l[135 + 2 * (k - 1)];
            const QString number = QStringLiteral("(%1/12)：").arg(k, 2, 10, QChar(u'0'));
            QVERIFY2(piece.startsWith(number), qPrintable(piece));
            QVERIFY2(piece.size() >= 50 && piece.size() <= 70, qPrintable(piece));
            if (k < 12)
                QVERIFY(l[136 + 2 * (k - 1)].isEmpty());
        }

        // Longer than one chunk on either link.
        const QByteArray gbk = qav::test::systemGbk(chineseDemoText());
        QVERIFY(gbk.size() > 4091);
    }

    void catalogue() {
        const QStringList l = linesOf(promptSoundCatalogue());
        QCOMPARE(l[0], QString());
        QCOMPARE(l[1], QStringLiteral("【普通提示音类型】"));
        QCOMPARE(l[4], QStringLiteral("sound111  sound112  sound113  sound114  sound115    "));
        QCOMPARE(l[21], QString());
        QCOMPARE(l[22], QString());
        QCOMPARE(l[23], QStringLiteral("【兼容名称提示音】"));
        QCOMPARE(l[28], QStringLiteral("soundv    soundw    soundx    soundy       "));

        // The names, group by group, each once and in order.
        const QString text = promptSoundCatalogue();
        QStringList expected;
        for (int group : {1, 2, 3, 4}) {
            const int last = group == 1 ? 24 : group == 2 ? 9 : group == 3 ? 18 : 8;
            for (int i = 1; i <= last; ++i)
                expected << QStringLiteral("sound%1%2").arg(group).arg(i, 2, 10, QChar(u'0'));
        }
        for (char c = 'a'; c <= 'y'; ++c)
            if (c != 's')
                expected << QStringLiteral("sound") + QChar(c);
        QStringList found;
        for (const auto& m : QRegularExpression(QStringLiteral("sound\\w+")).globalMatch(text))
            found << m.captured();
        QCOMPARE(found, expected);
    }
};

QTEST_APPLESS_MAIN(TstDemoTexts)
#include "tst_demo_texts.moc"
