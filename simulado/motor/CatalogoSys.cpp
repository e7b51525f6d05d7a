// The sys.* catalogue views of the simulated server, with the columns and values SQL Server documents.
#include "ServidorImpl.h"

#include <algorithm>

namespace simulado {

namespace {

constexpr int kEsquemaDbo = 1;
constexpr int kGrupoPrimario = 1;

// A view being built: its columns, then its rows in the same order.
struct Armado {
  Origen& o;
  void Col(const char* nombre, Tipo t, int largo = 0) {
    o.nombres.emplace_back(nombre);
    TipoCol tc;
    tc.tipo = t;
    tc.largo = largo;
    o.tipos.push_back(tc);
  }
  void Nombre(const char* n) { Col(n, Tipo::VarChar, 128); }
  void Enteros(std::initializer_list<const char*> nombres) {
    for (const char* n : nombres) Col(n, Tipo::Int);
  }
  void Bits(std::initializer_list<const char*> nombres) {
    for (const char* n : nombres) Col(n, Tipo::Bit);
  }
  void Fila(std::vector<Valor> v) { o.filas.push_back(std::move(v)); }
};

Valor T(const std::string& s) {
  return Valor::Texto(s);
}
Valor N(std::int64_t n) {
  return Valor::Entero(n);
}
Valor B(bool b) {
  return Valor::Entero(b ? 1 : 0);
}
Valor F(std::int64_t ms) {
  return Valor::Fecha(ms, 3);
}

// The type numbers and sizes the catalogue gives a column type.
struct TipoSys {
  const char* nombre;
  int sistema;
  int largo;
  int precision;
  int escala;
};

// Every system type of SQL Server 2008 and later, as sys.types lists them (user type id = system type id
// but for sysname and the CLR types).
struct FilaTipo {
  const char* nombre;
  int sistema, usuario, largo, precision, escala;
  bool texto;
};
constexpr FilaTipo kTipos[] = {
    {"image", 34, 34, 16, 0, 0, false},
    {"text", 35, 35, 16, 0, 0, true},
    {"uniqueidentifier", 36, 36, 16, 0, 0, false},
    {"date", 40, 40, 3, 10, 0, false},
    {"time", 41, 41, 5, 16, 7, false},
    {"datetime2", 42, 42, 8, 27, 7, false},
    {"datetimeoffset", 43, 43, 10, 34, 7, false},
    {"tinyint", 48, 48, 1, 3, 0, false},
    {"smallint", 52, 52, 2, 5, 0, false},
    {"int", 56, 56, 4, 10, 0, false},
    {"smalldatetime", 58, 58, 4, 16, 0, false},
    {"real", 59, 59, 4, 24, 0, false},
    {"money", 60, 60, 8, 19, 4, false},
    {"datetime", 61, 61, 8, 23, 3, false},
    {"float", 62, 62, 8, 53, 0, false},
    {"sql_variant", 98, 98, 8016, 0, 0, false},
    {"ntext", 99, 99, 16, 0, 0, true},
    {"bit", 104, 104, 1, 1, 0, false},
    {"decimal", 106, 106, 17, 38, 38, false},
    {"numeric", 108, 108, 17, 38, 38, false},
    {"smallmoney", 122, 122, 4, 10, 4, false},
    {"bigint", 127, 127, 8, 19, 0, false},
    {"hierarchyid", 240, 128, 892, 0, 0, false},
    {"geometry", 240, 129, -1, 0, 0, false},
    {"geography", 240, 130, -1, 0, 0, false},
    {"varbinary", 165, 165, 8000, 0, 0, false},
    {"varchar", 167, 167, 8000, 0, 0, true},
    {"binary", 173, 173, 8000, 0, 0, false},
    {"char", 175, 175, 8000, 0, 0, true},
    {"timestamp", 189, 189, 8, 0, 0, false},
    {"nvarchar", 231, 231, 8000, 0, 0, true},
    {"nchar", 239, 239, 8000, 0, 0, true},
    {"xml", 241, 241, -1, 0, 0, false},
    {"sysname", 231, 256, 256, 0, 0, true},
};

// Storage bytes of a decimal of precision p, as SQL Server gives them.
int BytesDecimal(int p) {
  return p <= 9 ? 5 : p <= 19 ? 9 : p <= 28 ? 13 : 17;
}

TipoSys Sys(const TipoCol& t) {
  switch (t.tipo) {
    case Tipo::Bit:
      return {"bit", 104, 1, 1, 0};
    case Tipo::TinyInt:
      return {"tinyint", 48, 1, 3, 0};
    case Tipo::SmallInt:
      return {"smallint", 52, 2, 5, 0};
    case Tipo::Int:
      return {"int", 56, 4, 10, 0};
    case Tipo::Decimal:
      return {t.numeric ? "numeric" : "decimal", t.numeric ? 108 : 106, BytesDecimal(t.precision),
              t.precision, t.escala};
    case Tipo::Char:
      return {"char", 175, t.largo, 0, 0};
    case Tipo::VarChar:
      return {"varchar", 167, t.largo, 0, 0};
    case Tipo::SmallDateTime:
      return {"smalldatetime", 58, 4, 16, 0};
    case Tipo::DateTime:
      return {"datetime", 61, 8, 23, 3};
  }
  return {"int", 56, 4, 10, 0};
}

// The names the server makes up for unnamed constraints: DF__tabla__colum__1A2B3C4D, PK__tabla__1A2B3C4D.
bool NombreDelSistema(const std::string& n) {
  if (!(n.starts_with("DF__") || n.starts_with("PK__") || n.starts_with("UQ__")) || n.size() < 14)
    return false;
  const std::string hex = n.substr(n.size() - 8);
  return n.compare(n.size() - 10, 2, "__") == 0 && std::all_of(hex.begin(), hex.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c));
         });
}

// A default's definition as the catalogue shows it: numbers in a second pair of parentheses.
std::string Definicion(const std::string& texto) {
  const bool numero = texto.size() > 2 && (std::isdigit(static_cast<unsigned char>(texto[1])) ||
                                           (texto[1] == '-' && texto.size() > 3) || texto[1] == '.');
  return numero ? "(" + texto + ")" : texto;
}

}  // namespace

std::optional<Origen> Servidor::Impl::CatalogoSys(const std::string& vista) {
  Origen r;
  r.nombre = vista;
  r.materializado = true;
  Armado a{r};
  const std::string n = Minusculas(vista);

  // The columns every object view shares (sys.objects, sys.tables, sys.views, the constraint views).
  auto columnasObjeto = [&] {
    a.Nombre("name");
    a.Enteros({"object_id", "principal_id", "schema_id", "parent_object_id"});
    a.Col("type", Tipo::Char, 2);
    a.Col("type_desc", Tipo::VarChar, 60);
    a.Col("create_date", Tipo::DateTime);
    a.Col("modify_date", Tipo::DateTime);
    a.Bits({"is_ms_shipped", "is_published", "is_schema_published"});
  };
  auto objeto = [&](const std::string& nombre, int id, int padre, const char* tipo, const char* desc) {
    std::string t(tipo);
    t.resize(2, ' ');
    return std::vector<Valor>{T(nombre), N(id),         Valor{},       N(kEsquemaDbo), N(padre), T(t),
                              T(desc),   F(Creado(id)), F(Creado(id)), B(false),       B(false), B(false)};
  };
  auto mas = [](std::vector<Valor> v, std::initializer_list<Valor> extra) {
    v.insert(v.end(), extra);
    return v;
  };
  auto tipoClave = [](const Restriccion& x) {
    return x.tipo == TR::PK   ? std::pair{"PK", "PRIMARY_KEY_CONSTRAINT"}
           : x.tipo == TR::UQ ? std::pair{"UQ", "UNIQUE_CONSTRAINT"}
                              : std::pair{"D", "DEFAULT_CONSTRAINT"};
  };
  // A view's columns as they come out of it; none when its tables changed under it.
  auto columnasVista = [&](const Vista& v) {
    std::pair<std::vector<std::string>, std::vector<TipoCol>> r2;
    if (listandoColumnas) return r2;
    listandoColumnas = true;
    const struct Restaurar {
      bool& b;
      ~Restaurar() { b = false; }
    } restaurar{listandoColumnas};
    try {
      NombreObjeto vo;
      vo.nombre = v.nombre;
      const Origen ov = AbrirOrigen(vo);
      r2 = {ov.nombres, ov.tipos};
    } catch (const ErrorSql&) {
      // The catalogue of a broken view lists no columns.
    }
    return r2;
  };

  if (n == "objects") {
    columnasObjeto();
    for (const auto& t : tablas) {
      r.filas.push_back(objeto(t->nombre, t->id, 0, "U", "USER_TABLE"));
      for (const auto& x : t->e.restr) {
        const auto [tipo, desc] = tipoClave(x);
        r.filas.push_back(objeto(x.nombre, x.id, t->id, tipo, desc));
      }
    }
    for (const auto& v : vistas) r.filas.push_back(objeto(v->nombre, v->id, 0, "V", "VIEW"));
  } else if (n == "tables") {
    columnasObjeto();
    a.Enteros({"lob_data_space_id", "filestream_data_space_id", "max_column_id_used"});
    a.Bits({"lock_on_bulk_load", "uses_ansi_nulls", "is_replicated", "has_replication_filter",
            "is_merge_published", "is_sync_tran_subscribed", "has_unchecked_assembly_data"});
    a.Enteros({"text_in_row_limit"});
    a.Bits({"large_value_types_out_of_row", "is_tracked_by_cdc"});
    a.Col("lock_escalation", Tipo::TinyInt);
    a.Col("lock_escalation_desc", Tipo::VarChar, 60);
    for (const auto& t : tablas)
      a.Fila(mas(objeto(t->nombre, t->id, 0, "U", "USER_TABLE"),
                 {N(0), Valor{}, N(static_cast<std::int64_t>(t->e.cols.size())), B(false), B(true), B(false),
                  B(false), B(false), B(false), B(false), N(0), B(false), B(false), N(0), T("TABLE")}));
  } else if (n == "views") {
    columnasObjeto();
    a.Bits({"is_replicated", "has_replication_filter", "has_opaque_metadata", "has_unchecked_assembly_data",
            "with_check_option", "is_date_correlation_view", "is_tracked_by_cdc"});
    for (const auto& v : vistas)
      a.Fila(mas(objeto(v->nombre, v->id, 0, "V", "VIEW"),
                 {B(false), B(false), B(false), B(false), B(false), B(false), B(false)}));
  } else if (n == "columns" || n == "identity_columns") {
    const bool identidades = n == "identity_columns";
    a.Enteros({"object_id"});
    a.Nombre("name");
    a.Enteros({"column_id"});
    a.Col("system_type_id", Tipo::TinyInt);
    a.Enteros({"user_type_id"});
    a.Col("max_length", Tipo::SmallInt);
    a.Col("precision", Tipo::TinyInt);
    a.Col("scale", Tipo::TinyInt);
    a.Nombre("collation_name");
    a.Bits({"is_nullable", "is_ansi_padded", "is_rowguidcol", "is_identity", "is_computed", "is_filestream",
            "is_replicated", "is_non_sql_subscribed", "is_merge_published", "is_dts_replicated",
            "is_xml_document"});
    a.Enteros({"xml_collection_id", "default_object_id", "rule_object_id"});
    a.Bits({"is_sparse", "is_column_set"});
    if (identidades) {
      a.Enteros({"seed_value", "increment_value", "last_value"});
      a.Bits({"is_not_for_replication"});
    }
    auto fila = [&](int id, std::size_t i, const std::string& nombre, const TipoCol& tipo, bool nulos,
                    const std::string& intercalacion, bool identidad, int defecto) {
      const TipoSys s = Sys(tipo);
      return std::vector<Valor>{N(id),
                                T(nombre),
                                N(static_cast<std::int64_t>(i + 1)),
                                N(s.sistema),
                                N(s.sistema),
                                N(s.largo),
                                N(s.precision),
                                N(s.escala),
                                EsTexto(tipo.tipo) && !intercalacion.empty() ? T(intercalacion) : Valor{},
                                B(nulos),
                                B(EsTexto(tipo.tipo)),
                                B(false),
                                B(identidad),
                                B(false),
                                B(false),
                                B(false),
                                B(false),
                                B(false),
                                B(false),
                                B(false),
                                N(0),
                                N(defecto),
                                N(0),
                                B(false),
                                B(false)};
    };
    for (const auto& t : tablas)
      for (std::size_t i = 0; i < t->e.cols.size(); ++i) {
        const Columna& c = *t->e.cols[i];
        if (identidades && !c.identidad) continue;
        const Restriccion* d = t->Defecto(c.nombre);
        auto v = fila(t->id, i, c.nombre, c.tipo, c.nulos, c.collation, c.identidad, d ? d->id : 0);
        if (identidades)
          v = mas(std::move(v),
                  {N(c.semilla), N(c.incremento), c.generado ? N(c.actual) : Valor{}, B(false)});
        a.Fila(std::move(v));
      }
    if (!identidades)
      for (const auto& v : vistas) {
        const auto [nombres, tipos] = columnasVista(*v);
        for (std::size_t i = 0; i < nombres.size(); ++i)
          a.Fila(
              fila(v->id, i, nombres[i], tipos[i], true, EsTexto(tipos[i].tipo) ? collation : "", false, 0));
      }
  } else if (n == "types") {
    a.Nombre("name");
    a.Col("system_type_id", Tipo::TinyInt);
    a.Enteros({"user_type_id", "schema_id", "principal_id"});
    a.Col("max_length", Tipo::SmallInt);
    a.Col("precision", Tipo::TinyInt);
    a.Col("scale", Tipo::TinyInt);
    a.Nombre("collation_name");
    a.Bits({"is_nullable", "is_user_defined", "is_assembly_type"});
    a.Enteros({"default_object_id", "rule_object_id"});
    a.Bits({"is_table_type"});
    for (const auto& t : kTipos)
      a.Fila({T(t.nombre), N(t.sistema), N(t.usuario), N(4), Valor{}, N(t.largo), N(t.precision), N(t.escala),
              t.texto ? T(collation) : Valor{}, B(std::string_view(t.nombre) != "sysname"), B(false),
              B(t.usuario >= 128 && t.usuario <= 130), N(0), N(0), B(false)});
  } else if (n == "default_constraints") {
    columnasObjeto();
    a.Enteros({"parent_column_id"});
    a.Col("definition", Tipo::VarChar, 4000);
    a.Bits({"is_system_named"});
    for (const auto& t : tablas)
      for (const auto& x : t->e.restr)
        if (x.tipo == TR::DF)
          a.Fila(
              mas(objeto(x.nombre, x.id, t->id, "D", "DEFAULT_CONSTRAINT"),
                  {N(t->Columna(x.para) + 1), T(Definicion(x.textoDefecto)), B(NombreDelSistema(x.nombre))}));
  } else if (n == "key_constraints") {
    columnasObjeto();
    a.Enteros({"unique_index_id"});
    a.Bits({"is_system_named"});
    for (const auto& t : tablas)
      for (const auto& x : t->e.restr)
        if (x.tipo != TR::DF) {
          const auto [tipo, desc] = tipoClave(x);
          a.Fila(mas(objeto(x.nombre, x.id, t->id, tipo, desc), {N(x.indid), B(NombreDelSistema(x.nombre))}));
        }
  } else if (n == "indexes" || n == "index_columns") {
    const bool columnas = n == "index_columns";
    if (columnas) {
      a.Enteros({"object_id", "index_id", "index_column_id", "column_id"});
      a.Col("key_ordinal", Tipo::TinyInt);
      a.Col("partition_ordinal", Tipo::TinyInt);
      a.Bits({"is_descending_key", "is_included_column"});
    } else {
      a.Enteros({"object_id"});
      a.Nombre("name");
      a.Enteros({"index_id"});
      a.Col("type", Tipo::TinyInt);
      a.Col("type_desc", Tipo::VarChar, 60);
      a.Bits({"is_unique"});
      a.Enteros({"data_space_id"});
      a.Bits({"ignore_dup_key", "is_primary_key", "is_unique_constraint"});
      a.Col("fill_factor", Tipo::TinyInt);
      a.Bits({"is_padded", "is_disabled", "is_hypothetical", "allow_row_locks", "allow_page_locks",
              "has_filter"});
      a.Col("filter_definition", Tipo::VarChar, 4000);
    }
    struct Ix {
      int indid;
      const std::string* nombre;
      const std::vector<std::string>* cols;
      bool unico, agrupado, primaria, restriccion;
      int relleno;
    };
    for (const auto& t : tablas) {
      std::vector<Ix> ixs;
      for (const auto& x : t->e.restr)
        if (x.tipo != TR::DF)
          ixs.push_back({x.indid, &x.nombre, &x.columnas, true, x.agrupado, x.tipo == TR::PK,
                         x.tipo == TR::UQ, x.relleno});
      for (const auto& x : t->e.indices)
        ixs.push_back({x.indid, &x.nombre, &x.columnas, x.unico, x.agrupado, false, false, x.relleno});
      std::sort(ixs.begin(), ixs.end(), [](const Ix& x, const Ix& y) { return x.indid < y.indid; });
      const bool monton = std::none_of(ixs.begin(), ixs.end(), [](const Ix& x) { return x.agrupado; });
      if (monton && !columnas)
        a.Fila({N(t->id), Valor{}, N(0), N(0), T("HEAP"), B(false), N(kGrupoPrimario), B(false), B(false),
                B(false), N(0), B(false), B(false), B(false), B(true), B(true), B(false), Valor{}});
      for (const auto& x : ixs) {
        if (columnas) {
          for (std::size_t k = 0; k < x.cols->size(); ++k)
            a.Fila({N(t->id), N(x.indid), N(static_cast<std::int64_t>(k + 1)),
                    N(t->Columna((*x.cols)[k]) + 1), N(static_cast<std::int64_t>(k + 1)), N(0), B(false),
                    B(false)});
          continue;
        }
        a.Fila({N(t->id), T(*x.nombre), N(x.indid), N(x.agrupado ? 1 : 2),
                T(x.agrupado ? "CLUSTERED" : "NONCLUSTERED"), B(x.unico), N(kGrupoPrimario), B(false),
                B(x.primaria), B(x.restriccion), N(x.relleno), B(false), B(false), B(false), B(true), B(true),
                B(false), Valor{}});
      }
    }
  } else if (n == "sql_modules") {
    a.Enteros({"object_id"});
    a.Col("definition", Tipo::VarChar, 8000);
    a.Bits({"uses_ansi_nulls", "uses_quoted_identifier", "is_schema_bound", "uses_database_collation",
            "is_recompiled", "null_on_null_input"});
    a.Enteros({"execute_as_principal_id"});
    for (const auto& v : vistas)
      a.Fila({N(v->id), T(v->texto), B(true), B(true), B(false), B(false), B(false), B(false), Valor{}});
  } else if (n == "schemas") {
    a.Nombre("name");
    a.Enteros({"schema_id", "principal_id"});
    for (const auto& [nombre, id] :
         {std::pair{"dbo", 1}, {"guest", 2}, {"INFORMATION_SCHEMA", 3}, {"sys", 4}})
      a.Fila({T(nombre), N(id), N(id)});
  } else if (n == "data_spaces" || n == "filegroups") {
    a.Nombre("name");
    a.Enteros({"data_space_id"});
    a.Col("type", Tipo::Char, 2);
    a.Col("type_desc", Tipo::VarChar, 60);
    a.Bits({"is_default", "is_system"});
    a.Fila({T("PRIMARY"), N(kGrupoPrimario), T("FG"), T("ROWS_FILEGROUP"), B(true), B(false)});
  } else if (n == "databases") {
    a.Nombre("name");
    a.Enteros({"database_id"});
    a.Col("create_date", Tipo::DateTime);
    a.Col("compatibility_level", Tipo::TinyInt);
    a.Nombre("collation_name");
    a.Bits({"is_read_only"});
    a.Col("state", Tipo::TinyInt);
    a.Col("state_desc", Tipo::VarChar, 60);
    a.Col("recovery_model_desc", Tipo::VarChar, 60);
    const std::string nombres[] = {"master", "tempdb", "model", "msdb", base};
    for (std::size_t i = 0; i < std::size(nombres); ++i)
      a.Fila({T(nombres[i]), N(static_cast<std::int64_t>(i + 1)), F(0), N(160), T(collation), B(false), N(0),
              T("ONLINE"), T("SIMPLE")});
  } else {
    return std::nullopt;
  }
  return r;
}

}  // namespace simulado
