// A small UNO component that the conversion's office loads: it reads and sets the heights of many
// rows inside the office process, so that a workbook of 100,000 rows costs one call instead of
// several remote calls per row. Service "org.parlux.RowHeights", created with one argument (a
// cell range); element 0 is the heights of its rows in 1/100 mm as a sequence of long. Replacing
// element 0 sets the rows whose height changed, each run of neighbours with one new height at once.
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexReplace.hpp>
#include <com/sun/star/lang/IllegalArgumentException.hpp>
#include <com/sun/star/lang/IndexOutOfBoundsException.hpp>
#include <com/sun/star/lang/XInitialization.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/lang/XSingleComponentFactory.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/table/XTableRows.hpp>
#include <cppuhelper/factory.hxx>
#include <cppuhelper/implbase3.hxx>
#include <cppuhelper/supportsservice.hxx>
#include <uno/lbnames.h>

#include <algorithm>

namespace {

namespace css = ::com::sun::star;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using rtl::OUString;

constexpr char kName[] = "org.parlux.RowHeights";

Sequence<OUString> ServiceNames() {
    OUString name = OUString::createFromAscii(kName);
    return Sequence<OUString>(&name, 1);
}

class RowHeights : public cppu::WeakImplHelper3<css::lang::XInitialization, css::container::XIndexReplace,
                                               css::lang::XServiceInfo> {
public:
    void SAL_CALL initialize(const Sequence<Any>& arguments) override {
        if (arguments.getLength() != 1 || !(arguments[0] >>= m_range) || !m_range.is())
            throw css::lang::IllegalArgumentException("expected a cell range", static_cast<cppu::OWeakObject*>(this), 0);
        Reference<css::table::XTableRows> rows = RowsOf(m_range);
        m_heights.realloc(rows->getCount());
        sal_Int32* out = m_heights.getArray();
        for (sal_Int32 i = 0; i < m_heights.getLength(); ++i)
            Reference<css::beans::XPropertySet>(rows->getByIndex(i), css::uno::UNO_QUERY_THROW)
                ->getPropertyValue("Height") >>= out[i];
    }
    void SAL_CALL replaceByIndex(sal_Int32 index, const Any& element) override {
        if (index != 0) throw css::lang::IndexOutOfBoundsException();
        Sequence<sal_Int32> wanted;
        if (!(element >>= wanted) || wanted.getLength() != m_heights.getLength())
            throw css::lang::IllegalArgumentException("expected one height per row", static_cast<cppu::OWeakObject*>(this), 1);
        sal_Int32* current = m_heights.getArray();
        for (sal_Int32 first = 0; first < wanted.getLength();) {
            sal_Int32 height = wanted[first], last = first;
            if (height == current[first]) {
                ++first;
                continue;
            }
            while (last + 1 < wanted.getLength() && wanted[last + 1] == height && current[last + 1] != height) ++last;
            Reference<css::beans::XPropertySet>(
                RowsOf(Reference<css::table::XCellRange>(m_range->getCellRangeByPosition(0, first, 0, last))),
                css::uno::UNO_QUERY_THROW)
                ->setPropertyValue("Height", Any(height));
            std::fill(current + first, current + last + 1, height);
            first = last + 1;
        }
    }
    sal_Int32 SAL_CALL getCount() override { return 1; }
    Any SAL_CALL getByIndex(sal_Int32 index) override {
        if (index != 0) throw css::lang::IndexOutOfBoundsException();
        return Any(m_heights);
    }
    css::uno::Type SAL_CALL getElementType() override { return cppu::UnoType<Sequence<sal_Int32>>::get(); }
    sal_Bool SAL_CALL hasElements() override { return true; }
    OUString SAL_CALL getImplementationName() override { return kName; }
    sal_Bool SAL_CALL supportsService(const OUString& name) override { return cppu::supportsService(this, name); }
    Sequence<OUString> SAL_CALL getSupportedServiceNames() override { return ServiceNames(); }

private:
    static Reference<css::table::XTableRows> RowsOf(const Reference<css::table::XCellRange>& range) {
        return Reference<css::table::XColumnRowRange>(range, css::uno::UNO_QUERY_THROW)->getRows();
    }

    Reference<css::table::XCellRange> m_range;
    Sequence<sal_Int32> m_heights;
};

Reference<css::uno::XInterface> Create(const Reference<css::uno::XComponentContext>&) {
    return static_cast<cppu::OWeakObject*>(new RowHeights);
}

}  // namespace

extern "C" SAL_DLLPUBLIC_EXPORT void component_getImplementationEnvironment(const char** name, uno_Environment**) {
    *name = CPPU_CURRENT_LANGUAGE_BINDING_NAME;
}

extern "C" SAL_DLLPUBLIC_EXPORT void* component_getFactory(const char* implementation, void*, void*) {
    if (OUString::createFromAscii(implementation) != kName) return nullptr;
    Reference<css::lang::XSingleComponentFactory> factory =
        cppu::createSingleComponentFactory(Create, kName, ServiceNames());
    factory->acquire();
    return factory.get();
}
