// The facts of each release played: versions, TDS level, feature acknowledgement.
#include "sandbox/tds/Release.h"

namespace sandbox::tds {

namespace {

ReleaseFacts sqlServer2008R2() {
    // SP3 with the TLS 1.2 update (KB3135244, build 10.50.6542.0). A 2008 R2 server speaks TDS
    // 7.3B at most and sends no FEATUREEXTACK, which TDS 7.4 introduced.
    ReleaseFacts f;
    f.product.version = "10.50.6542.0";
    f.product.level = "SP3";
    f.product.versionText =
        "Microsoft SQL Server 2008 R2 (SP3-GDR) (KB3135244) - 10.50.6542.0 (X64) \n\tCopyright (c) Microsoft "
        "Corporation\n\tStandard Edition (64-bit) on Windows NT 6.1 <X64> (Build 7601: Service Pack 1)\n";
    f.product.databaseVersion = 661;
    f.major = 10;
    f.minor = 50;
    f.build = 6542;
    f.tdsVersion = 0x730B0003;
    f.utf8Collations = false;
    return f;
}

ReleaseFacts sqlServer2019() {
    ReleaseFacts f;  // Product's defaults are 2019 RTM
    f.major = 15;
    f.minor = 0;
    f.build = 2000;
    f.tdsVersion = 0x74000004;
    f.utf8Collations = true;
    return f;
}

}  // namespace

const ReleaseFacts& releaseFacts(Release release) {
    static const ReleaseFacts r2008 = sqlServer2008R2();
    static const ReleaseFacts r2019 = sqlServer2019();
    return release == Release::SqlServer2008R2 ? r2008 : r2019;
}

}  // namespace sandbox::tds
