// The demonstration texts, kept as UTF-8 lines. The layout rules (section
// titles flush left, content lines indented, the hyphen rulers of the parts)
// are applied by the small builder below, so each text reads as its sections.
#include "demo/demo_texts.h"

#include <QStringList>
#include <initializer_list>

namespace qav::demo {

namespace {

using Lines = std::initializer_list<const char*>;

constexpr auto kLineBreak = "\r\n";
constexpr auto kRuler = "--------------------------"; // 26 hyphens around a part title

class TextBuilder {
public:
    void line(const char* utf8) { lines_.append(QString::fromUtf8(utf8)); }
    void empty() { lines_.append(QString()); }
    void indented(int blanks, Lines lines) {
        for (const char* text : lines)
            lines_.append(QString(blanks, u' ') + QString::fromUtf8(text));
    }
    // An empty line, the ruler with the part's title, and another empty line.
    void partHeader(const char* title) {
        empty();
        const QString ruler = QString::fromLatin1(kRuler);
        lines_.append(ruler + QStringLiteral("  ") + QString::fromUtf8(title) + QChar(u' ') +
                      ruler);
        empty();
    }
    QString text(bool finalLineBreak) const {
        QString joined = lines_.join(QString::fromLatin1(kLineBreak));
        if (finalLineBreak)
            joined += QString::fromLatin1(kLineBreak);
        return joined;
    }

private:
    QStringList lines_;
};

// English-Chinese text: sections of a part are a flush-left title and content
// indented by two blanks, one empty line between two sections.
struct TwoBlankSection {
    const char* title;
    Lines lines;
};

void twoBlankSections(TextBuilder& text, std::initializer_list<TwoBlankSection> sections) {
    bool first = true;
    for (const TwoBlankSection& section : sections) {
        if (!first)
            text.empty();
        first = false;
        text.line(section.title);
        text.indented(2, section.lines);
    }
}

// Chinese text: every section is preceded by an empty line, its title, and
// another empty line; content is indented by four blanks.
void fourBlankSection(TextBuilder& text, const char* title, Lines lines) {
    text.empty();
    text.line(title);
    text.empty();
    text.indented(4, lines);
}

} // namespace

QString englishChineseDemoText() {
    TextBuilder text;
    text.line("Hello, this is the demo for QAV7120 TTS chip. ");
    text.line("你好，这里是QAV7120语音合成芯片的演示。");

    text.partHeader("行业文本演示");
    twoBlankSections(
        text, {
                  {"【公交智能报站】",
                   {"Welcome aboard bus number 8, please hold the handrail firmly.",
                    "欢迎乘坐8路公交车，请扶好把手。",
                    "The next stop is Lakeside Park, please get ready to get off.",
                    "下一站湖畔公园，请准备下车的乘客做好准备。",
                    "Please offer your seat to passengers in need.", "请为有需要的乘客让座。",
                    "Arrived at the destination, please get off from the right side of the door",
                    "已到达目的地，请从门的右侧下车"}},
                  {"【天气预报】",
                   {"Beijing：Tonight to tomorrow ，Cloudy with showers to 19 ℃ ~ 12 ℃",
                    "北京：今夜到明天白天：多云转阵雨：19℃～12℃"}},
                  {"【导航】",
                   {"GPS signal is not available now.", "GPS信号异常",
                    "Turn left at the second crossing ahead.", "前方第二个路口左转",
                    "Keep right and take the ramp.", "请靠右行驶，进入匝道",
                    "The route has been planned again.", "已为您重新规划路线", "in 1.6 kilometers.",
                    "还剩1.6公里"}},
                  {"【遥控器】",
                   {"Power on.", "开机", "Volume up.", "音量增大", "Next channel.", "下一频道",
                    "Sound off.", "静音", "Reset factory setting.", "恢复出厂设置"}},
              });

    text.partHeader("控制标记演示");
    twoBlankSections(
        text, {
                  {"【[g*]语种设置】",
                   {"默认自动判断，如：[g0]www.example.com[g0]",
                    "设置成中文，  如：[g1]www.example.com[g0]",
                    "设置成英文，  如：[g2]www.example.com[g0]"}},
                  {"【[o*]英文0的读法】",
                   {"默认读zero，  如：[o0]call 13700102030[d].",
                    "强制读“欧”，如：[o1]call 13700102030[d]."}},
                  {"【[h*]英文单词发音方式】",
                   {"默认自动判断，如：this is [h0]Windows[d] system. 这是[h0]Windows[d]系统。",
                    "读成字母，    如：please plug in the [h1]USB[d] cable. 请插好[h1]USB[d]线。"}},
                  {"【[k*]韵律中停顿时间加长】",
                   {"默认不加长，如：[k0]Please check the number and dial again.[d]",
                    "加长600ms，如：[k12]The subscriber you dialed can not be connected for the "
                    "moment.[d]"}},
                  {"【[n*]数字判断】",
                   {"[n0]默认自动判断，如87650321, call 87650321[d]",
                    "[n1]按号码读，    如87650321, call 87650321[d]",
                    "[n2]按数值读，    如87650321, call 87650321[d]"}},
                  {"【[p*]停顿控制】",
                   {"please get off from the right side of the door.",
                    "please get off [p300] from the right side [p300] of the door. ",
                    "请从门的右侧下车，请从[p300]门的右侧[p300]下车 "}},
                  {"【[d*]恢复默认】",
                   {"[s0][t10]this is the demo.[d] 恢复默认后：this is the demo",
                    "[v10][s10]欢迎光临本店。[d] 恢复默认后：欢迎光临本店。"}},
                  {"【[x*]提示音处理】",
                   {"[x1]sounda, this is a sound. [x0]sounda, this isn't a sound.[d]",
                    "[x1]sound401, 这是提示音.    [x0]sounda, 这不是提示音.[d]"}},
                  {"【[v*]音量调节】",
                   {"[v1] 这是音量最小的效果。[d]", "[v5] 这是默认音量的效果。[d]",
                    "[v10]这是音量最大的效果。[d]"}},
                  {"【[s*]语速调节】",
                   {"[s0] 这是语速最慢的效果；[d]", "[s5] 这是正常语速的效果。[d]",
                    "[s10]这是语速最快的效果；[d]"}},
                  {"【[t*]:语调调节】",
                   {"[t0] 这是语调[=diao4]最低的效果；[d]", "[t5] 这是默认语调的效果。[d]",
                    "[t10]这是语调[=diao4]最高的效果；[d]"}},
                  {"【中文专用控制标记】",
                   {"[i*]:强制读拼音。 [i1]huan1 ying2 guang1 lin2[i0]，欢迎光临。[d]",
                    "[r*]:姓氏强制。   [r1]单经理和[r1]解老师明天到。[d]",
                    "[y*]:1的读法。    请到[y1]1号楼1单元[d]办理。",
                    "[z*]:韵律强制。   "
                    "偶记前天在庭树下看见的一件事。[z1]偶记前天#在庭树下#看见的一件事[d]",
                    "[=*]:强制拼音。   银行行长。银行行[=xing2]长[=chang2]。",
                    "[b*]:读标点开关。 欢迎光临，请进！。[b1]欢迎光临，请进！[d]"}},
              });

    text.partHeader("中英混读演示");
    text.line("欢迎使用TonariaTTS语音合成系统。");
    text.line("请选择help键，进入自检模式。");
    text.line("请点击finish键，完成本次操作。");
    text.line("今天的meeting改到下午三点。");
    text.line("他们使用的是Windows XP系统。");
    text.line("请把报告保存成PDF格式再发给我。");
    text.line("我对这事情不care。");
    text.line("这台电脑可以连接Wi-Fi和蓝牙。");
    return text.text(true);
}

QString chineseDemoText() {
    TextBuilder text;
    text.line("欢迎观看语音合成系统的演示！");

    fourBlankSection(text, "【多音字演示】",
                     {"当前工作的重中之重，是要在重重困难中，保证重庆市的重点工程的顺利进行！",
                      "他长大以后当上了长江边一家工厂的厂长。",
                      "银行行长穿过人行道向骑着自行车的银行职员行走过去。",
                      "这位音乐老师很快乐，总是乐于帮助别人。"});
    fourBlankSection(text, "【智能数字符号处理】",
                     {"今天的最低气温为：-18℃，这座大桥长1.5km。",
                      "新规定生效时间：2011-11-01，22:01:03；",
                      "会议定于2012年3月15日上午9:30召开，请准时参加。",
                      "火车的速度是622km/h。 公交车的行驶速度是5m/s 。",
                      "本次活动共有1,250人报名，其中3/4来自本市。", "分别下降了37.5%和67.7%。",
                      "这批货物共重2.5t，运费为￥1,860.00。",
                      "按“#”字键返回，或按“*”字键返回。返回上级菜单请按*号键。",
                      "比分是3:1，这场比赛进行了90分钟。"});
    fourBlankSection(text, "【姓氏识别】",
                     {"他是一位姓朴的朴素的韩国艺人。", "单老师和解师傅一起去了曾家村。"});
    fourBlankSection(text, "【自动变声调识别】",
                     {"进入二十一世纪。五一节。同一账户或同一控制人控制的多个账户。",
                      "买一个送一个。一帆一桨一渔舟。", "一心一意。一五一十。一来一往。",
                      "不折不扣。不卑不亢。不三不四。"});
    fourBlankSection(text, "【提示音识别】",
                     {"soundb  soundi  soundk  soundm  soundt  soundu。",
                      "sound101  sound205  sound302  sound401。"});
    fourBlankSection(text, "【音量调节】",
                     {"[v1]这是音量最小的效果。[d]", "[v3]这是音量较小的效果。[d]",
                      "[v5]这是默认音量的效果。[d]", "[v8]这是音量较大的效果。[d]",
                      "[v10]这是音量最大的效果。[d]"});
    fourBlankSection(text, "【语速调节】",
                     {"[s0]这是语速最慢的效果；[d]", "[s2]这是语速较慢的效果；[d]",
                      "[s5]这是正常语速的效果；[d]", "[s8]这是语速较快的效果；[d]",
                      "[s10]这是语速最快的效果；[d]"});
    fourBlankSection(text, "【语调调节】",
                     {"[t0]这是语调设置最低的效果；[d]", "[t2]这是语调设置较低的效果；[d]",
                      "[t5]这是默认语调的效果；[d]", "[t8]这是语调设置较高的效果；[d]",
                      "[t10]这是语调设置最高的效果；[d]"});
    fourBlankSection(
        text, "【发音风格演示】",
        {"[f0]这是发音风格为一字一顿的效果；[d]", "[f1]这是发音风格正常，平铺直叙的效果；[d]"});
    fourBlankSection(text, "【发音人演示】",
                     {"[m3]我是林悦；[m3][d]", "[m51]我是周航；[m3][d]", "[m52]我是程欣；[m3][d]",
                      "[m53]我是韩默；[m3][d]", "[m54]我是苏晴；[m3][d]",
                      "[m55]我是陶然；[m3][d]"});

    // Ten pairs of a description and its example, an empty line between pairs.
    text.empty();
    text.line("【其它控制标记演示】");
    text.empty();
    const std::initializer_list<std::pair<const char*, const char*>> tagPairs = {
        {"[i*]强制读拼音。", "例如：[i1]ni3 hao3，huan1 ying2 guang1 lin2。[d]"},
        {"[n*]读数字处理。", "例如：[n1]编号20481，[n2]金额20481元。[d]"},
        {"[p*]停顿控制。", "例如：msgd您有来电。msgd[p500]您有来电。msgd，您有来电。"},
        {"[r*]姓氏强制。", "例如：[r1]解小明是[r1]查老师的学生。[d]"},
        {"[x*]提示音处理。", "例如：[x0]sounda msga。[x1]sounda msga。[d]"},
        {"[y*]号码1的读法。", "例如：分机号码是[y1]1011[d]。"},
        {"[z*]韵律强制。", "例如：[z1]我们#明天上午#一起去#植物园[d]。"},
        {"[=*]强制拼音。", "银行行长。银行行[=xing2]长[=chang2]。"},
        {"[b*]读标点开关。", "例如：[b1]你好，再见！[d]"},
        {"[d] 恢复默认。", "例如：[v10][s8]声音大，语速快。[d]恢复默认的声音和语速。"},
    };
    bool firstPair = true;
    for (const auto& [description, example] : tagPairs) {
        if (!firstPair)
            text.empty();
        firstPair = false;
        text.indented(4, {description, example});
    }

    fourBlankSection(text, "【英文字母混读】",
                     {"联通3G，精彩在“沃”。", "请把U盘插到电脑的USB接口上。",
                      "一名村民称他在自家的房前看到了UFO。", "这是一个处处充满PK的时代。"});
    fourBlankSection(text, "【行业应用】",
                     {"前方600米接近目的地：上地城铁站。", "您已超速，请减速慢行。",
                      "您的消费总额是：475.25元。收您500元，找零24.75元。",
                      "余额不足，请及时充值。", "刷卡成功，时间：8:25。 ",
                      "请0029号到13号窗口办理卡储蓄业务。", "车辆起步，请系好安全带。",
                      "变压器箱门非法打开。", "机房温度过高，请检查空调设备。",
                      "请3号包厢的客人到前台取餐。", "本店营业时间为早上9:00至晚上10:00。"});

    // The last section stands apart: five empty lines before it, and its
    // pieces are flush left with an empty line between each two.
    for (int i = 0; i < 5; ++i)
        text.empty();
    text.line("【短信等乱序接收后的正常播报】 -- 此功能为特殊应用");
    text.empty();
    const Lines pieces = {
        "(01/12)：本报讯 "
        "昨天上午，青禾市首届社区读书节在滨江文化广场正式开幕，全市四十多个社区的居民代表来到了现场"
        "。",
        "(02/"
        "12)"
        "：据主办方介绍，本届读书节为期一个月，共安排了名家讲座、亲子共读、旧书交换和朗诵比赛等二十"
        "余项活动。",
        "(03/"
        "12)"
        "：开幕式上，市图书馆向十个新建的社区书屋赠送图书三万册，还为每个书屋配备了电子借阅设备和阅"
        "读座椅。",
        "(04/"
        "12)"
        "：今后市民只需持身份证或读者卡，就能在任何一个社区书屋免费借书，还书时也可以就近归还，不必"
        "再跑总馆。",
        "(05/"
        "12)"
        "：家住东湖社区的退休教师周文清告诉记者，她每天傍晚都会带着孙女来书屋看书，家门口就能借书，"
        "十分方便。",
        "(06/"
        "12)"
        "：在旧书交换区，不少年轻人带来了自己读过的小说和教材，两本旧书可以换一本别人捐出的书，现场"
        "十分热闹。",
        "(07/"
        "12)"
        "：朗诵比赛分为少儿组和成人组，报名人数已经超过八百人，决赛将于本月二十六日晚上在市文化中心"
        "剧场举行。",
        "(08/"
        "12)"
        "：为了方便上班族参加，部分讲座安排在周末和工作日的晚上，并同时通过网络直播，市民可以在线向"
        "嘉宾提问。",
        "(09/"
        "12)"
        "：主办方还推出了“阅读打卡”活动，市民每读完一本书并提交一篇简短的读后感，就能获得一枚读书节"
        "纪念书签。",
        "(10/"
        "12)"
        "：市文化局负责人表示，今后将每年举办一届读书节，并争取在三年内让全市每个社区都拥有一个设施"
        "完善的书屋。",
        "(11/"
        "12)"
        "：据统计，去年全市居民人均阅读纸质图书六点二本，比前年增加了一点一本，其中青少年的阅读量增"
        "长最为明显。",
        "(12/"
        "12)"
        "：读书节期间，各社区书屋的开放时间将延长到晚上九点，具体活动安排可以登录青禾市图书馆的网站"
        "进行查询。",
    };
    bool firstPiece = true;
    for (const char* piece : pieces) {
        if (!firstPiece)
            text.empty();
        firstPiece = false;
        text.line(piece);
    }
    return text.text(false);
}

QString promptSoundCatalogue() {
    TextBuilder text;
    text.empty();
    text.line("【普通提示音类型】");
    text.line("sound101  sound102  sound103  sound104  sound105  ");
    text.line("sound106  sound107  sound108  sound109  sound110  ");
    text.line("sound111  sound112  sound113  sound114  sound115    ");
    text.line("sound116  sound117  sound118  sound119  sound120  ");
    text.line("sound121  sound122  sound123  sound124  ");
    text.empty();
    text.line("【铃声类型】");
    text.line("sound201  sound202  sound203  sound204  sound205  ");
    text.line("sound206  sound207  sound208  sound209 ");
    text.empty();
    text.line("【警报类型】");
    text.line("sound301  sound302  sound303  sound304  sound305   ");
    text.line("sound306  sound307  sound308  sound309  sound310  ");
    text.line("sound311  sound312  sound313  sound314  sound315    ");
    text.line("sound316  sound317  sound318   ");
    text.empty();
    text.line("【刷卡成功类型】");
    text.line("sound401  sound402  sound403  sound404  sound405    ");
    text.line("sound406  sound407  sound408  ");
    text.empty();
    text.empty();
    text.line("【兼容名称提示音】");
    text.line("sounda    soundb    soundc    soundd    sounde  ");
    text.line("soundf    soundg    soundh    soundi    soundj  ");
    text.line("soundk    soundl    soundm    soundn    soundo   ");
    text.line("soundp    soundq    soundr    soundt    soundu    ");
    text.line("soundv    soundw    soundx    soundy       ");
    return text.text(true);
}

} // namespace qav::demo
