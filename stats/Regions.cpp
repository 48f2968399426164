#include "stats/Regions.h"

namespace lianbu::stats {

namespace {

// The provincial-level divisions and their prefecture-level divisions (with the county-level
// cities a province governs directly, and a few well-known county-level cities, so addresses that
// begin with them are read too). Each entry is "full name|other name|other name"; a city's name
// without 市, 地区 or 盟 is also read, as long as what follows does not make it a street or a
// district. A district marked * has a namesake in another city, so it is only read after its
// municipality's name. Names a short form could be mistaken for (海南 in Qinghai, 新竹 in Taiwan) are left out
// of the other names on purpose.
const Division kDivisions[] = {
    {DivisionKind::Municipality, u"北京市|北京|京", u"",
     u"东城区 西城区 *朝阳区 丰台区 石景山区 海淀区 门头沟区 房山区 *通州区 顺义区 昌平区 大兴区 怀柔区 平谷区 "
     u"密云区 延庆区"},
    {DivisionKind::Municipality, u"天津市|天津|津", u"",
     u"*和平区 *河东区 河西区 南开区 河北区 红桥区 东丽区 西青区 津南区 北辰区 武清区 宝坻区 滨海新区 宁河区 "
     u"静海区 蓟州区"},
    {DivisionKind::Municipality, u"上海市|上海|沪", u"",
     u"黄浦区 徐汇区 长宁区 静安区 *普陀区 虹口区 杨浦区 闵行区 *宝山区 嘉定区 浦东新区 金山区 松江区 青浦区 "
     u"奉贤区 崇明区"},
    {DivisionKind::Municipality, u"重庆市|重庆|渝", u"",
     u"万州区 涪陵区 渝中区 大渡口区 *江北区 沙坪坝区 九龙坡区 南岸区 北碚区 綦江区 大足区 渝北区 巴南区 "
     u"黔江区 长寿区 江津区 合川区 永川区 南川区 璧山区 铜梁区 潼南区 荣昌区 开州区 梁平区 武隆区 城口县 "
     u"丰都县 垫江县 忠县 云阳县 奉节县 巫山县 巫溪县 石柱土家族自治县|石柱县 秀山土家族苗族自治县|秀山县 "
     u"酉阳土家族苗族自治县|酉阳县 彭水苗族土家族自治县|彭水县"},
    {DivisionKind::Province, u"河北省|河北|冀",
     u"石家庄市 唐山市 秦皇岛市 邯郸市 邢台市 保定市 张家口市 承德市 沧州市 廊坊市 衡水市 定州市 辛集市", u""},
    {DivisionKind::Province, u"山西省|山西|晋",
     u"太原市 大同市 阳泉市 长治市 晋城市 朔州市 晋中市 运城市 忻州市 临汾市 吕梁市", u""},
    {DivisionKind::AutonomousRegion, u"内蒙古自治区|内蒙古|内蒙|蒙",
     u"呼和浩特市 包头市 乌海市 赤峰市 通辽市 鄂尔多斯市 呼伦贝尔市 巴彦淖尔市 乌兰察布市 兴安盟 锡林郭勒盟 "
     u"阿拉善盟",
     u""},
    {DivisionKind::Province, u"辽宁省|辽宁|辽",
     u"沈阳市 大连市 鞍山市 抚顺市 本溪市 丹东市 锦州市 营口市 阜新市 辽阳市 盘锦市 铁岭市 朝阳市 葫芦岛市", u""},
    {DivisionKind::Province, u"吉林省|吉林|吉",
     u"长春市 吉林市 四平市 辽源市 通化市 白山市 松原市 白城市 延边朝鲜族自治州|延边州|延边 梅河口市 "
     u"公主岭市",
     u""},
    {DivisionKind::Province, u"黑龙江省|黑龙江|黑",
     u"哈尔滨市 齐齐哈尔市 鸡西市 鹤岗市 双鸭山市 大庆市 伊春市 佳木斯市 七台河市 牡丹江市 黑河市 绥化市 "
     u"大兴安岭地区",
     u""},
    {DivisionKind::Province, u"江苏省|江苏|苏",
     u"南京市 无锡市|江阴市|宜兴市 徐州市 常州市 苏州市|昆山市|常熟市|张家港市|太仓市 南通市 连云港市 淮安市 "
     u"盐城市 扬州市 镇江市 泰州市 宿迁市",
     u""},
    {DivisionKind::Province, u"浙江省|浙江|浙",
     u"杭州市 宁波市|余姚市|慈溪市 温州市|瑞安市|乐清市 嘉兴市 湖州市 绍兴市|诸暨市 金华市|义乌市|东阳市|永康市 "
     u"衢州市 舟山市 台州市 丽水市",
     u""},
    {DivisionKind::Province, u"安徽省|安徽|皖",
     u"合肥市 芜湖市 蚌埠市 淮南市 马鞍山市 淮北市 铜陵市 安庆市 黄山市 滁州市 阜阳市 宿州市 六安市 亳州市 "
     u"池州市 宣城市",
     u""},
    {DivisionKind::Province, u"福建省|福建|闽",
     u"福州市|福清市 厦门市 莆田市 三明市 泉州市|晋江市|石狮市|南安市 漳州市 南平市 龙岩市 宁德市", u""},
    {DivisionKind::Province, u"江西省|江西|赣",
     u"南昌市 景德镇市 萍乡市 九江市 新余市 鹰潭市 赣州市 吉安市 宜春市 抚州市 上饶市", u""},
    {DivisionKind::Province, u"山东省|山东|鲁",
     u"济南市 青岛市|胶州市|即墨区 淄博市 枣庄市 东营市 烟台市|龙口市 潍坊市|寿光市 济宁市 泰安市 威海市 "
     u"日照市 临沂市 德州市 聊城市 滨州市 菏泽市",
     u""},
    {DivisionKind::Province, u"河南省|河南|豫",
     u"郑州市 开封市 洛阳市 平顶山市 安阳市 鹤壁市 新乡市 焦作市 濮阳市 许昌市 漯河市 三门峡市 南阳市 商丘市 "
     u"信阳市 周口市 驻马店市 济源市",
     u""},
    {DivisionKind::Province, u"湖北省|湖北|鄂",
     u"武汉市 黄石市 十堰市 宜昌市 襄阳市|襄樊市 鄂州市 荆门市 孝感市 荆州市 黄冈市 咸宁市 随州市 "
     u"恩施土家族苗族自治州|恩施州|恩施 仙桃市 潜江市 天门市 神农架林区|神农架",
     u""},
    {DivisionKind::Province, u"湖南省|湖南|湘",
     u"长沙市 株洲市 湘潭市 衡阳市 邵阳市 岳阳市 常德市 张家界市 益阳市 郴州市 永州市 怀化市 娄底市 "
     u"湘西土家族苗族自治州|湘西州|湘西",
     u""},
    {DivisionKind::Province, u"广东省|广东|粤",
     u"广州市 韶关市 深圳市 珠海市 汕头市 佛山市|顺德区 江门市 湛江市 茂名市 肇庆市 惠州市 梅州市 汕尾市 "
     u"河源市 阳江市 清远市 东莞市 中山市 潮州市 揭阳市 云浮市",
     u""},
    {DivisionKind::AutonomousRegion, u"广西壮族自治区|广西|桂",
     u"南宁市 柳州市 桂林市 梧州市 北海市 防城港市 钦州市 贵港市 玉林市 百色市 贺州市 河池市 来宾市 崇左市", u""},
    {DivisionKind::Province, u"海南省|海南|琼",
     u"海口市 三亚市 三沙市 儋州市 五指山市 琼海市 文昌市 万宁市 东方市 定安县 屯昌县 澄迈县 临高县 "
     u"白沙黎族自治县|白沙县 昌江黎族自治县|昌江县 乐东黎族自治县|乐东县 陵水黎族自治县|陵水县 "
     u"保亭黎族苗族自治县|保亭县 琼中黎族苗族自治县|琼中县",
     u""},
    {DivisionKind::Province, u"四川省|四川|川|蜀",
     u"成都市 自贡市 攀枝花市 泸州市 德阳市 绵阳市 广元市 遂宁市 内江市 乐山市 南充市 眉山市 宜宾市 广安市 "
     u"达州市 雅安市 巴中市 资阳市 阿坝藏族羌族自治州|阿坝州|阿坝 甘孜藏族自治州|甘孜州|甘孜 "
     u"凉山彝族自治州|凉山州|凉山",
     u""},
    {DivisionKind::Province, u"贵州省|贵州|黔|贵",
     u"贵阳市 六盘水市 遵义市 安顺市 毕节市 铜仁市 黔西南布依族苗族自治州|黔西南州|黔西南 "
     u"黔东南苗族侗族自治州|黔东南州|黔东南 黔南布依族苗族自治州|黔南州|黔南",
     u""},
    {DivisionKind::Province, u"云南省|云南|滇|云",
     u"昆明市 曲靖市 玉溪市 保山市 昭通市 丽江市 普洱市|思茅市 临沧市 楚雄彝族自治州|楚雄州|楚雄 "
     u"红河哈尼族彝族自治州|红河州|红河 文山壮族苗族自治州|文山州|文山 西双版纳傣族自治州|西双版纳州|西双版纳 "
     u"大理白族自治州|大理州|大理 德宏傣族景颇族自治州|德宏州|德宏 怒江傈僳族自治州|怒江州|怒江 "
     u"迪庆藏族自治州|迪庆州|迪庆",
     u""},
    {DivisionKind::AutonomousRegion, u"西藏自治区|西藏|藏", u"拉萨市 日喀则市 昌都市 林芝市 山南市 那曲市 阿里地区",
     u""},
    {DivisionKind::Province, u"陕西省|陕西|陕|秦",
     u"西安市 铜川市 宝鸡市 咸阳市 渭南市 延安市 汉中市 榆林市 安康市 商洛市", u""},
    {DivisionKind::Province, u"甘肃省|甘肃|甘|陇",
     u"兰州市 嘉峪关市 金昌市 白银市 天水市 武威市 张掖市 平凉市 酒泉市 庆阳市 定西市 陇南市 "
     u"临夏回族自治州|临夏州|临夏 甘南藏族自治州|甘南州|甘南",
     u""},
    {DivisionKind::Province, u"青海省|青海|青",
     u"西宁市 海东市 海北藏族自治州|海北州|海北 黄南藏族自治州|黄南州|黄南 海南藏族自治州|海南州 "
     u"果洛藏族自治州|果洛州|果洛 玉树藏族自治州|玉树州|玉树 海西蒙古族藏族自治州|海西州",
     u""},
    {DivisionKind::AutonomousRegion, u"宁夏回族自治区|宁夏|宁", u"银川市 石嘴山市 吴忠市 固原市 中卫市", u""},
    {DivisionKind::AutonomousRegion, u"新疆维吾尔自治区|新疆|新",
     u"乌鲁木齐市 克拉玛依市 吐鲁番市 哈密市 昌吉回族自治州|昌吉州|昌吉 博尔塔拉蒙古自治州|博州|博尔塔拉 "
     u"巴音郭楞蒙古自治州|巴州|巴音郭楞|库尔勒市 阿克苏地区 克孜勒苏柯尔克孜自治州|克州|克孜勒苏 喀什地区 "
     u"和田地区 伊犁哈萨克自治州|伊犁州|伊犁|伊宁市 塔城地区 阿勒泰地区 石河子市 阿拉尔市 图木舒克市 五家渠市 "
     u"北屯市 铁门关市 双河市 可克达拉市 昆玉市 胡杨河市 新星市 白杨市",
     u""},
    {DivisionKind::Province, u"台湾省|台湾|台",
     u"台北市 新北市 桃园市 台中市 台南市 高雄市 基隆市 新竹市 嘉义市 新竹县 苗栗县 彰化县 南投县 云林县 "
     u"嘉义县 屏东县 宜兰县 花莲县 台东县 澎湖县",
     u""},
    {DivisionKind::SpecialRegion, u"香港特别行政区|香港", u"", u""},
    {DivisionKind::SpecialRegion, u"澳门特别行政区|澳门", u"", u""},
};

} // namespace

std::span<const Division> divisions()
{
    return kDivisions;
}

} // namespace lianbu::stats
