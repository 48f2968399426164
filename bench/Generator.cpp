#include "bench/Generator.h"

#include "data/AttemptLog.h"
#include "data/FollowUpDates.h"
#include "data/RegisterUpgrade.h"
#include "data/Schema.h"
#include "data/SearchIndex.h"
#include "db/Connection.h"
#include "db/Engine.h"
#include "db/SortKeys.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>

#include <sqlite3.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace lianbu::bench {

namespace {

// Bumped whenever the generated data changes, so an old cached register is not reused.
constexpr int kGeneratorVersion = 2;

std::vector<std::string> split(const char *utf8)
{
    // Space-separated words.
    std::vector<std::string> words;
    std::string word;
    for (const char *p = utf8; *p; ++p) {
        if (*p == ' ') {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += *p;
        }
    }
    if (!word.empty())
        words.push_back(word);
    return words;
}

// Single Chinese characters of a word list ("张 王 李").
const std::vector<std::string> kSurnames = split("王 李 张 刘 陈 杨 黄 赵 吴 周 徐 孙 马 朱 胡 郭 何 高 林 罗 郑 梁 谢 "
                                                 "宋 唐 许 韩 冯 邓 曹 彭 曾 肖 田 董 袁 潘 于 蒋 蔡 "
                                                 "余 杜 叶 程 苏 魏 吕 丁 任 沈 姚 卢 姜 崔 钟 谭 陆 汪 范 金 石 廖 贾 "
                                                 "夏 韦 付 方 白 邹 孟 熊 秦 邱 江 尹 薛 闫 段 雷 侯 "
                                                 "龙 史 陶 黎 贺 顾 毛 郝 龚 邵 万 钱 严 欧阳 司马 上官");
const std::vector<std::string> kGiven = split(
    "伟 芳 娜 敏 静 丽 强 磊 军 洋 勇 艳 杰 娟 涛 明 超 秀 霞 平 刚 桂 英 华 玉 萍 红 鹏 飞 波 宇 浩 凯 健 俊 帆 帅 旭 "
    "宁 "
    "龙 林 欢 佳 阳 晨 辉 婷 雪 琳 晶 颖 慧 鑫 斌 峰 亮 博 文 建 国 志 海 东 成 荣 新 春 梅 兰 凤 云 莉 倩 婧 蕾 思 雨 "
    "子 涵 梓 萱 一 诺 欣 怡 嘉 泽");
const std::vector<std::string> kTradeNames = split(
    "华为 中兴 联想 海尔 美的 格力 长城 东方 金龙 天成 鑫源 恒达 宏远 瑞丰 盛世 博远 汇通 永信 新华 华夏 中天 远大 "
    "正泰 "
    "德力 安泰 富通 利民 友邦 海鑫 宝丰 创新 兴业 广源 信达 昌盛 隆基 振华 凯旋 星光 万达 华润 金桥 和平 蓝天 绿源 "
    "佳美 合众 鸿运 晨光 锦程 启明 天宇 大成 同创 宏图 思源 汇丰 金盛 鼎盛");
const std::vector<std::string> kTrades = split(
    "科技 贸易 实业 电子 建材 食品 物流 机械 医药 服装 化工 印刷 包装 家具 五金 汽配 软件 网络 传媒 广告 餐饮 酒店 "
    "旅游 地产 装饰 环保 能源 农业 纺织 玩具");
const std::vector<std::string> kForms = split("有限公司 有限公司 有限公司 股份有限公司 有限责任公司 商行 经营部");
const std::vector<std::string> kCategories =
    split("VIP客户 普通客户 重要客户 潜在客户 代理商 供应商 经销商 合作伙伴 政府机关 学校 医院 银行 外贸 物流 媒体 "
          "IT服务 餐饮 酒店 制造业 其他");
const std::vector<std::string> kTitles = split("经理 总经理 副总经理 董事长 采购经理 销售经理 财务 会计 主任 科长 处长 "
                                               "工程师 技术总监 行政 前台 业务员 老板 店长");
struct Place
{
    const char *province;
    const char *city;
    const char *area;
    const char *postcode;
    std::vector<std::string> districts;
};
const std::vector<Place> kPlaces = {
    {"北京市", "", "010", "100", split("海淀区 朝阳区 东城区 西城区 丰台区 昌平区")},
    {"上海市", "", "021", "200", split("浦东新区 徐汇区 静安区 黄浦区 闵行区 杨浦区")},
    {"广东省", "广州市", "020", "510", split("天河区 越秀区 海珠区 白云区 番禺区")},
    {"广东省", "深圳市", "0755", "518", split("南山区 福田区 罗湖区 宝安区 龙岗区")},
    {"浙江省", "杭州市", "0571", "310", split("西湖区 上城区 拱墅区 滨江区 萧山区 余杭区")},
    {"江苏省", "南京市", "025", "210", split("玄武区 秦淮区 鼓楼区 建邺区 江宁区")},
    {"湖北省", "武汉市", "027", "430", split("江汉区 武昌区 洪山区 汉阳区 江岸区")},
    {"四川省", "成都市", "028", "610", split("锦江区 青羊区 武侯区 成华区 金牛区")},
    {"陕西省", "西安市", "029", "710", split("雁塔区 碑林区 莲湖区 新城区 未央区")},
    {"重庆市", "", "023", "400", split("渝中区 江北区 南岸区 沙坪坝区 九龙坡区")},
    {"山东省", "济南市", "0531", "250", split("历下区 市中区 槐荫区 天桥区")},
    {"福建省", "厦门市", "0592", "361", split("思明区 湖里区 集美区 海沧区")},
};
const std::vector<std::string> kRoads =
    split("人民路 解放路 中山路 建设路 和平路 新华路 文化路 胜利路 朝阳路 长江路 黄河路 学院路 文三路 科技路 滨江大道 "
          "世纪大道 南京路 北京路 延安路 光明路");
const std::vector<std::string> kNotes =
    split("老客户，按时付款 需要发票 春节前联系 已寄样品 重点跟进 价格敏感 介绍人：王经理 月结客户 只接受电话联系 "
          "Prefers_e-mail 100%预付");
const char *const kPinyin[] = {"wang", "li",  "zhang", "liu", "chen", "yang", "huang", "zhao", "wu",  "zhou",
                               "xu",   "sun", "ma",    "zhu", "hu",   "guo",  "he",    "gao",  "lin", "luo"};
const char *const kMailHosts[] = {"qq.com", "163.com", "126.com", "sina.com", "gmail.com", "hotmail.com", "139.com"};

class Random
{
public:
    explicit Random(unsigned seed)
        : m_engine(seed)
    {}
    int below(int n) { return int(m_engine() % unsigned(n)); }
    template <typename T>
    const T &pick(const std::vector<T> &v)
    {
        return v[size_t(below(int(v.size())))];
    }
    std::string digits(int n)
    {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += char('0' + below(10));
        return s;
    }

private:
    std::mt19937 m_engine;
};

void check(int rc, sqlite3 *db)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

} // namespace

void fillRegister(const QString &path, int rows)
{
    sqlite3 *db = nullptr;
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), db);
    check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt *insert = nullptr;
    check(sqlite3_prepare_v2(db,
                             "insert into data (a,b,c,d,e,f,g,h,i,j,k,l,m,z,day1) "
                             "values (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                             -1, &insert, nullptr),
          db);
    Random random(20101215u + unsigned(rows));
    std::string values[15];
    for (int r = 0; r < rows; ++r) {
        const Place &place = random.pick(kPlaces);
        const std::string surname = random.pick(kSurnames);
        const std::string name =
            surname + random.pick(kGiven) + (random.below(3) ? random.pick(kGiven) : std::string());
        const std::string trade = random.pick(kTradeNames);
        const std::string business = random.pick(kTrades);
        const std::string cityName = *place.city ? std::string(place.city) : std::string(place.province);
        const std::string cityShort = cityName.substr(0, cityName.size() - 3); // without 市/省
        values[0] = random.pick(kCategories);
        values[1] = trade + business + (random.below(4) == 0 ? std::to_string(random.below(90) + 10) : std::string());
        values[2] = name;
        values[3] = random.below(2) ? "男" : "女";
        values[4] = random.pick(kTitles);
        static const char *const kMobile[] = {"13", "15", "18", "17", "19"};
        values[5] = kMobile[random.below(5)] + random.digits(9);
        values[6] = std::string(place.area) + "-" + std::to_string(random.below(90000000) + 10000000);
        values[7] = random.below(3) ? std::string()
                                    : std::string(place.area) + "-" + std::to_string(random.below(90000000) + 10000000);
        values[8] = std::string(place.province) + place.city + random.pick(place.districts) + random.pick(kRoads)
                    + std::to_string(random.below(998) + 1) + "号"
                    + (random.below(2) ? std::to_string(random.below(30) + 1) + "楼" : "");
        values[9] = cityShort + trade + business + random.pick(kForms);
        values[10] = std::string(place.postcode) + random.digits(3);
        values[11] = std::string(kPinyin[random.below(20)]) + std::to_string(random.below(100000)) + "@"
                     + kMailHosts[random.below(7)];
        values[12] = random.below(5)
                         ? std::string()
                         : "http://www." + std::string(kPinyin[random.below(20)]) + std::to_string(r) + ".com.cn";
        values[13] = random.below(4) ? std::string() : random.pick(kNotes);
        char date[16];
        std::snprintf(date, sizeof date, "20%02d-%02d-%02d", 5 + random.below(20), 1 + random.below(12),
                      1 + random.below(28));
        values[14] = date;
        for (int c = 0; c < 15; ++c)
            sqlite3_bind_text(insert, c + 1, values[c].data(), int(values[c].size()), SQLITE_STATIC);
        check(sqlite3_step(insert), db);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
}

void fillFollowUps(const QString &path, int customers, int count)
{
    sqlite3 *db = nullptr;
    check(sqlite3_open(QFile::encodeName(path).constData(), &db), db);
    check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; BEGIN", nullptr, nullptr, nullptr), db);
    // The list's follow-up dates are made once at the end rather than by a trigger per row.
    const QStringList dates = data::followUpDateStatements(db::sqliteEngine());
    for (const char *trigger : {"insert", "update", "delete", "customer_gone"})
        check(sqlite3_exec(db, QByteArray("DROP TRIGGER IF EXISTS followup_dates_").append(trigger).constData(),
                           nullptr, nullptr, nullptr),
              db);
    sqlite3_stmt *insert = nullptr;
    check(sqlite3_prepare_v2(db,
                             "insert into followups (customer,contact_time,username,way,content,result,next_date,"
                             "settled,binned) values (?,?,?,?,?,?,?,?,0)",
                             -1, &insert, nullptr),
          db);
    static const char *const kWays[] = {"电话", "微信", "上门", "邮件", "短信", "其他"};
    static const char *const kOperators[] = {"超级管理员", "业务员甲", "业务员乙", "业务员丙"};
    static const char *const kResults[] = {"有意向", "暂不需要", "已报价", "已成交", "未接通", "约了再谈"};
    Random random(20261210u + unsigned(count));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDate today = QDate::currentDate();
    for (int i = 0; i < count; ++i) {
        // Ids grow with time, as the program writes them.
        const QDateTime at = now.addSecs(-qint64(count - i) * (3 * 365 * 86400ll) / count);
        const std::string time = data::attemptTimeText(at).toStdString();
        const std::string content = random.pick(kNotes) + "，" + random.pick(kTradeNames) + "的" + random.pick(kTitles)
                                    + "说" + random.pick(kNotes);
        const char *result = kResults[random.below(6)];
        sqlite3_bind_int64(insert, 1, 1 + random.below(customers));
        sqlite3_bind_text(insert, 2, time.data(), int(time.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, kOperators[random.below(4)], -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 4, kWays[random.below(6)], -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 5, content.data(), int(content.size()), SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 6, result, -1, SQLITE_STATIC);
        if (random.below(10) == 0) {
            // Promises: the old ones kept, the newest one in twenty still open, due within a
            // month either side of today.
            const bool open = i > count - count / 20 || random.below(50) == 0;
            const QDate due = open ? today.addDays(random.below(61) - 30) : at.date().addDays(random.below(30) + 1);
            const std::string date = due.toString(Qt::ISODate).toStdString();
            sqlite3_bind_text(insert, 7, date.data(), int(date.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int(insert, 8, open ? 0 : 1);
        } else {
            sqlite3_bind_null(insert, 7);
            sqlite3_bind_int(insert, 8, 0);
        }
        check(sqlite3_step(insert), db);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    check(sqlite3_exec(db, "DELETE FROM followup_dates", nullptr, nullptr, nullptr), db);
    for (qsizetype i = 1; i < dates.size(); ++i) // all but the table itself
        check(sqlite3_exec(db, dates.at(i).toUtf8().constData(), nullptr, nullptr, nullptr), db);
    check(sqlite3_exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
}

QString cachedRegisterWithFollowUps(const QString &folder, int rows, int followUps)
{
    const QString base = cachedRegister(folder, rows);
    const QString path = QDir(folder).filePath(
        QStringLiteral("register-%1-v%2-followups-%3.db").arg(rows).arg(kGeneratorVersion).arg(followUps));
    if (!QFileInfo::exists(path)) {
        const QString building = path + QStringLiteral(".building");
        QFile::remove(building);
        QFile::copy(base, building);
        {
            // The follow-up tables come as the program adds them to an older register.
            db::Connection connection(building);
            connection.open();
            data::upgradeRegister(connection);
        }
        QElapsedTimer timer;
        timer.start();
        fillFollowUps(building, rows, followUps);
        std::printf("(%d follow-ups added to the %d-row register in %.1f s)\n", followUps, rows,
                    double(timer.elapsed()) / 1000.0);
        QFile::rename(building, path);
    }
    return path;
}

bool hasFormerSortKeys(db::Connection &connection)
{
    QSqlQuery find(connection.database());
    return find.exec(QStringLiteral("select 1 from sqlite_master where name='data_sortkeys'")) && find.next();
}

QString cachedRegister(const QString &folder, int rows)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("register-%1-v%2.db").arg(rows).arg(kGeneratorVersion));
    if (!QFileInfo::exists(path)) {
        const QString building = path + QStringLiteral(".building");
        QFile::remove(building);
        QFile::remove(building + QStringLiteral("-wal"));
        QFile::remove(building + QStringLiteral("-shm"));
        lianbu::createDeliveredDatabase(building);
        fillRegister(building, rows);
        {
            // The keys the rows' triggers marked stale, computed as the program's first sort
            // would.
            db::Connection connection(building);
            connection.open();
            db::updateSortKeys(connection, QStringLiteral("data"));
            refreshSearchExtra(connection);
        }
        QFile::rename(building, path);
    }
    // A register made by an earlier generator lacks the sort order: it is added as the program
    // adds it to an older register at its start, and the time it takes is shown. A register
    // with the former stored keys is left as it is (it may be shared): each benchmark's copy
    // turns them into the sort order, as the program's start does.
    db::Connection connection(path);
    connection.open();
    if (!db::hasSortKeys(connection, QStringLiteral("data")) && !hasFormerSortKeys(connection)) {
        QElapsedTimer timer;
        timer.start();
        db::createSortKeys(connection, QStringLiteral("data"), sortKeyColumns(), {});
        std::printf("(sort keys added to the %d-row register in %.1f s; file now %.0f MB)\n", rows,
                    double(timer.elapsed()) / 1000.0, double(QFileInfo(path).size()) / (1024 * 1024));
    }
    // Likewise the table of pinyin initials and mobile numbers.
    if (!hasSearchExtra(connection)) {
        QElapsedTimer timer;
        timer.start();
        createSearchExtra(connection, {});
        std::printf("(pinyin initials added to the %d-row register in %.1f s; file now %.0f MB)\n", rows,
                    double(timer.elapsed()) / 1000.0, double(QFileInfo(path).size()) / (1024 * 1024));
    }
    return path;
}

} // namespace lianbu::bench
